// One relay between a front end and a client, both played by this test over real pipes.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/pipe.h"
#include "service/relay.h"
#include "tests/support/sandbox.h"

namespace {

struct exchange_result {
    std::string client_got;
    bool front_end_answered = false;
    std::string front_end_got;
};

platform::pipe server(const std::string& name, platform::pipe_access access, int instances) {
    platform::pipe_server_options options;
    options.access = access;
    options.max_instances = instances;
    return platform::pipe::create_server(name, options);
}

std::string read_whole(platform::pipe& pipe, bool& ok) {
    std::string text;
    char buffer[1000];
    for (;;) {
        const platform::io_result r = pipe.read(buffer, sizeof buffer);
        if (r.status == platform::io_status::failed) {
            ok = false;
            return text;
        }
        text.append(buffer, r.count);
        if (r.status == platform::io_status::ok) {
            ok = true;
            return text;
        }
    }
}

// Runs relay_thread on one job: the front end sends request, the client answers with each
// of answers as a message of its own.
exchange_result relay_once(const std::string& request, const std::vector<std::string>& answers) {
    test_support::sandbox box;
    const std::string launcher_name = R"(\\.\pipe\relay_test\launcher)";
    const std::string request_name = R"(\\.\pipe\relay_test\request)";
    const std::string response_name = R"(\\.\pipe\relay_test\response)";
    platform::pipe launcher =
        server(launcher_name, platform::pipe_access::duplex, platform::unlimited_instances);
    platform::pipe to_client = server(request_name, platform::pipe_access::outbound, 1);
    platform::pipe from_client = server(response_name, platform::pipe_access::inbound, 1);
    EXPECT_TRUE(launcher.valid() && to_client.valid() && from_client.valid());

    exchange_result result;
    std::thread front_end([&] {
        platform::pipe p = platform::pipe::open(launcher_name, platform::pipe_open::read_write);
        ASSERT_TRUE(p.valid());
        p.set_message_read_mode();
        p.write(request);
        result.front_end_got = read_whole(p, result.front_end_answered);
    });
    EXPECT_EQ(launcher.wait_for_client(), platform::connect_status::connected);
    std::thread relay(relay_thread, new relay_job{std::move(launcher), std::move(to_client),
                                                  std::move(from_client)});
    std::thread client([&] {
        platform::pipe response = platform::pipe::open(response_name, platform::pipe_open::write);
        platform::pipe req = platform::pipe::open(request_name, platform::pipe_open::read);
        ASSERT_TRUE(req.valid() && response.valid());
        req.set_message_read_mode();
        bool ok = false;
        result.client_got = read_whole(req, ok);
        for (const std::string& a : answers) response.write(a);
    });
    client.join();
    relay.join();
    front_end.join();
    return result;
}

TEST(RelayThread, ForwardsRequestsOfEverySizeWholeAndPassesTheAnswerBack) {
    for (std::size_t size : {std::size_t{0}, std::size_t{4096}, std::size_t{1} << 20}) {
        std::string request(size, 'r');
        for (std::size_t i = 0; i < size; i += 7) request[i] = static_cast<char>('a' + i % 26);
        const exchange_result r = relay_once(request, {"<boolean>1</boolean>"});
        EXPECT_EQ(r.client_got, frame_request(request)) << size;
        EXPECT_TRUE(r.front_end_answered) << size;
        EXPECT_EQ(r.front_end_got, "<boolean>1</boolean>") << size;
    }
}

TEST(RelayThread, DropsTheFrontEndUnansweredWhenTheAnswerIsEmpty) {
    for (const auto& answers : {std::vector<std::string>{""}, std::vector<std::string>{}}) {
        const exchange_result r = relay_once("q", answers);
        EXPECT_FALSE(r.front_end_answered);
        EXPECT_EQ(r.front_end_got, "");
    }
}

}  // namespace

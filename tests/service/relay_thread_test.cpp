// One relay between a front end and a client, both played by this test over real pipes.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/pipe.h"
#include "service/relay.h"
#include "tests/support/sandbox.h"

namespace {

using platform::pipe;

/// The whole message; nothing when the pipe broke first.
std::optional<std::string> read_whole(pipe& p) {
    std::string text;
    char buffer[1000];
    for (;;) {
        const platform::io_result r = p.read(buffer, sizeof buffer);
        if (r.status == platform::io_status::failed) return std::nullopt;
        text.append(buffer, r.count);
        if (r.status == platform::io_status::ok) return text;
    }
}

struct relayed {
    std::optional<std::string> client_got, front_end_got;
};

// Runs relay_thread on one job: the front end sends request, the client answers with each
// of answers as a message of its own.
relayed relay_once(const std::string& request, const std::vector<std::string>& answers) {
    test_support::sandbox box;
    const std::string names[] = {R"(\\.\pipe\relay\launcher)", R"(\\.\pipe\relay\request)",
                                 R"(\\.\pipe\relay\response)"};
    auto server = [](const std::string& name, platform::pipe_access access, int instances = 1) {
        platform::pipe_server_options options;
        options.access = access;
        options.max_instances = instances;
        return pipe::create_server(name, options);
    };
    pipe launcher = server(names[0], platform::pipe_access::duplex, platform::unlimited_instances);
    pipe to_client = server(names[1], platform::pipe_access::outbound);
    pipe from_client = server(names[2], platform::pipe_access::inbound);
    EXPECT_TRUE(launcher.valid() && to_client.valid() && from_client.valid());
    relayed result;
    std::thread front_end([&] {
        pipe p = pipe::open(names[0], platform::pipe_open::read_write);
        ASSERT_TRUE(p.valid() && p.set_message_read_mode() && p.write(request));
        result.front_end_got = read_whole(p);
    });
    EXPECT_EQ(launcher.wait_for_client(), platform::connect_status::connected);
    std::thread relay(relay_thread, new relay_job{std::move(launcher), std::move(to_client),
                                                  std::move(from_client)});
    std::thread client([&] {
        pipe response = pipe::open(names[2], platform::pipe_open::write);
        pipe req = pipe::open(names[1], platform::pipe_open::read);
        ASSERT_TRUE(req.valid() && response.valid() && req.set_message_read_mode());
        result.client_got = read_whole(req);
        for (const std::string& a : answers) response.write(a);
    });
    client.join();
    relay.join();
    front_end.join();
    return result;
}

TEST(relay_thread, forwards_requests_whole_and_passes_the_answer_back) {
    for (std::size_t size : {std::size_t{0}, std::size_t{4096}, std::size_t{1} << 20}) {
        std::string request(size, 'r');
        for (std::size_t i = 0; i < size; i += 7) request[i] = static_cast<char>('a' + i % 26);
        const relayed r = relay_once(request, {"<boolean>1</boolean>"});
        EXPECT_EQ(r.client_got, frame_request(request)) << size;
        EXPECT_EQ(r.front_end_got, "<boolean>1</boolean>") << size;
    }
}

TEST(relay_thread, drops_the_front_end_unanswered_when_the_answer_is_empty) {
    for (const auto& answers : {std::vector<std::string>{""}, std::vector<std::string>{}}) {
        EXPECT_EQ(relay_once("q", answers).front_end_got, std::nullopt);
    }
}

}  // namespace

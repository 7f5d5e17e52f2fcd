// The real service and client, driven on the launcher request pipe as a front end does.
#include <gtest/gtest.h>

#include <thread>

#include "service/relay.h"
#include "tests/service/e2e_support.h"
#include "tests/service_support/fake_client_modes.h"

namespace service_e2e {
namespace {

using namespace std::string_literals;

// A service started as the front end starts it, for tests that speak to its pipe directly.
struct running_service {
    world w;
    std::unique_ptr<test_support::background_program> service;
    explicit running_service(const std::string& mode) : w(mode) {
        test_support::run_options options;
        options.env = w.env;
        service = std::make_unique<test_support::background_program>(
            std::vector<std::string>{(w.box.product_dir() / "bin/zorv_service").string(),
                                     (w.box.product_dir() / "ZorvHome").string()},
            options);
    }
};

std::string body_of(std::size_t size, char fill) {
    std::string body(size, fill);
    for (std::size_t i = 0; i < size; i += 97) body[i] = static_cast<char>('a' + i % 26);
    return body;
}

TEST(relay_end_to_end, forwards_requests_whole_whatever_their_size) {
    running_service s("echo");
    int n = 0;
    for (std::size_t size :
         {std::size_t{1}, std::size_t{4095}, std::size_t{4096}, std::size_t{1} << 20}) {
        const std::string body = body_of(size, 'q');
        const auto reply = exchange(body);
        ++n;
        ASSERT_TRUE(reply.has_value()) << size;
        EXPECT_EQ(*reply, fake_client::echo_answer(frame_request(body))) << size;
        ASSERT_TRUE(s.w.wait_client_file("request-" + std::to_string(n) + ".bin"));
        EXPECT_EQ(s.w.client_file("request-" + std::to_string(n) + ".bin"), frame_request(body));
    }
}

TEST(relay_end_to_end, keeps_nul_bytes_in_request_and_answer) {
    running_service s("echo");
    const std::string body = "<a>\0</a>"s + body_of(5000, 'z') + "\0answer-yes"s;
    const auto reply = exchange(body);
    ASSERT_TRUE(reply.has_value());
    // The echoed answer carries the request, NUL bytes and all.
    EXPECT_EQ(*reply, fake_client::echo_answer(frame_request(body)));
    EXPECT_EQ(s.w.client_file("request-1.bin"), frame_request(body));
}

TEST(relay_end_to_end, drops_the_front_end_when_the_client_answers_with_nothing) {
    running_service s("empty");
    EXPECT_FALSE(exchange("<methodCall/>").has_value());
    EXPECT_TRUE(test_support::wait_until(
        [&] { return s.w.service_log().find("Got an empty response\n") != std::string::npos; }));
    // The service goes on serving.
    EXPECT_FALSE(exchange("<methodCall/>").has_value());
    EXPECT_TRUE(process_alive(s.service->pid()));
}

TEST(relay_end_to_end, passes_only_the_first_answer_message) {
    running_service s("two_messages");
    EXPECT_EQ(exchange("<methodCall/>"), std::string(fake_client::true_answer));
}

TEST(relay_end_to_end, never_mixes_answers_of_concurrent_front_ends) {
    running_service s("echo");
    ASSERT_TRUE(exchange("warm up").has_value());
    constexpr int count = 50;
    std::vector<std::optional<std::string>> replies(count);
    std::vector<std::thread> front_ends;
    for (int i = 0; i < count; ++i) {
        front_ends.emplace_back([&replies, i] {
            replies[i] = exchange("request " + std::to_string(i) + (i % 3 ? " answer-yes" : "") +
                                  std::string(static_cast<std::size_t>(i) * 300, '.'));
        });
    }
    for (auto& t : front_ends) t.join();
    for (int i = 0; i < count; ++i) {
        const std::string body = "request " + std::to_string(i) + (i % 3 ? " answer-yes" : "") +
                                 std::string(static_cast<std::size_t>(i) * 300, '.');
        EXPECT_EQ(replies[i], fake_client::echo_answer(frame_request(body))) << i;
    }
}

}  // namespace
}  // namespace service_e2e

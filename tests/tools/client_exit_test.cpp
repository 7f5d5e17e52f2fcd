// The client's end when the service goes away while requests are being served. The test
// stands in for the service: it owns the wrapper pipe and the pipe pairs.
#include <gtest/gtest.h>

#include "platform/pipe.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

constexpr int rounds = 3;
constexpr int pairs_per_round = 10;

std::string pipe_name(const std::string& what) { return R"(\\.\pipe\exit-test\)" + what; }

platform::pipe server(const std::string& name, platform::pipe_access access) {
    platform::pipe_server_options options;
    options.access = access;
    return platform::pipe::create_server(name, options);
}

std::string compare_request(const fs::path& a, const fs::path& b) {
    const auto array = [](const std::string& x, const std::string& y) {
        return "<param><value><array><data><value><string>" + x +
               "</string></value><value><string>" + y +
               "</string></value></data></array></value></param>";
    };
    const std::string body =
        "<methodCall><methodName>RequestHandler.Compare</methodName><params>" + array("a", "b") +
        array(a.string(), b.string()) +
        "<param><value><string></string></value></param></params></methodCall>";
    return "POST /RPC2 HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
}

// The service goes while compares are still being served: the client's main thread ends
// while pair threads still read its context and log. It must end without running exit
// handlers, which would free what those threads use; under AddressSanitizer such a use
// ends the client with an error instead of 0.
TEST(client_exit, ends_cleanly_while_requests_are_still_being_served) {
    test_support::sandbox box;
    fs::create_directories(box.work_dir());
    // Compares of growing size end one after another, spread over the client's exit.
    std::vector<std::string> requests_by_size;
    for (int k = 0; k < pairs_per_round; ++k) {
        std::string a_text;
        std::string b_text;
        for (int i = 0; i < (2 << k); ++i) {
            a_text += "line " + std::to_string(i) + "\n";
            b_text += "line " + std::to_string(i % 7 == 0 ? -i : i) + "\n";
        }
        const fs::path a = box.work_dir() / ("a" + std::to_string(k));
        const fs::path b = box.work_dir() / ("b" + std::to_string(k));
        test_support::write_file(a, a_text);
        test_support::write_file(b, b_text);
        requests_by_size.push_back(compare_request(a, b));
    }

    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string wrapper_name = pipe_name("wrapper" + std::to_string(round));
        platform::pipe wrapper = server(wrapper_name, platform::pipe_access::outbound);
        ASSERT_TRUE(wrapper.valid());
        // The probe tells whether exit handlers (static destructors among them) ran.
        const fs::path probe = box.root() / ("exit-probe" + std::to_string(round));
        test_support::run_options options;
        options.env = {{"DISPLAY", ""},
                       {"WAYLAND_DISPLAY", ""},
                       {"LD_PRELOAD", test_support::built_program("libexit_probe.so").string()},
                       {"VARNEX_EXIT_PROBE_FILE", probe.string()},
                       // The sanitizer's runtime need not come first when a probe is preloaded.
                       {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
        test_support::background_program client(
            {test_support::built_program("zorvexplorer").string(), "-vmargs",
             "-Dcom.qorva.tarvel.team.client.integration.wrapperpipe=\"" + wrapper_name + "\""},
            options);
        ASSERT_EQ(wrapper.wait_for_client(), platform::connect_status::connected);

        std::vector<platform::pipe> requests;
        std::vector<platform::pipe> responses;
        for (int k = 0; k < pairs_per_round; ++k) {
            const std::string tag = std::to_string(round) + "-" + std::to_string(k);
            requests.push_back(server(pipe_name("request" + tag), platform::pipe_access::outbound));
            responses.push_back(
                server(pipe_name("response" + tag), platform::pipe_access::inbound));
            ASSERT_TRUE(wrapper.write(pipe_name("request" + tag) + "\n" +
                                      pipe_name("response" + tag) + "\n"));
            ASSERT_EQ(requests.back().wait_for_client(), platform::connect_status::connected);
            ASSERT_EQ(responses.back().wait_for_client(), platform::connect_status::connected);
        }
        // Every pair thread now waits for its request.
        const fs::path log = box.user_work_dir() / "zorvexplorer.log";
        const auto answered = [&] {
            const std::string text = test_support::read_file(log);
            std::size_t n = 0;
            for (std::size_t at = 0; (at = text.find("true: page", at)) != std::string::npos; ++at)
                ++n;
            return n;
        };
        const std::size_t before = answered();
        for (int k = 0; k < pairs_per_round; ++k)
            ASSERT_TRUE(requests[k].write(requests_by_size[k]));
        // The service goes once the small compares are answered and the large ones still run.
        ASSERT_TRUE(
            test_support::wait_until([&] { return answered() >= before + pairs_per_round / 2; }));
        wrapper.close();
        EXPECT_EQ(client.wait(std::chrono::seconds(60)), 0);
        EXPECT_FALSE(fs::exists(probe)) << test_support::read_file(probe);
    }
}

}  // namespace
}  // namespace zorv

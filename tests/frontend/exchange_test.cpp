// The exchange on the launcher request pipe against a relay service stand-in on a thread.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "common/login_name.h"
#include "common/pipe_names.h"
#include "common/work_dir.h"
#include "frontend/service_client.h"
#include "platform/pipe.h"
#include "tests/support/sandbox.h"

namespace {

std::string pipe_name() { return common::launcher_request_pipe_name(common::login_name()); }

// Listens on the launcher request pipe from construction and serves one connection: reads
// the whole request, then answers with reply (or, without one, closes without answering).
class fake_relay {
  public:
    explicit fake_relay(std::optional<std::string> reply) : reply_(std::move(reply)) {
        platform::pipe_server_options options;
        options.max_instances = platform::unlimited_instances;
        server_ = platform::pipe::create_server(pipe_name(), options);
        if (server_.valid()) thread_ = std::thread([this] { serve(); });
    }
    ~fake_relay() {
        if (!thread_.joinable()) return;
        // A test that failed before connecting must not leave the thread blocked.
        if (!done_) (void)platform::pipe::open(pipe_name(), platform::pipe_open::read_write);
        thread_.join();
    }
    fake_relay(const fake_relay&) = delete;
    fake_relay& operator=(const fake_relay&) = delete;

    bool listening() const { return server_.valid(); }
    /// The request as received; call after the exchange.
    std::string request() {
        if (thread_.joinable()) thread_.join();
        return request_;
    }

  private:
    void serve() {
        if (server_.wait_for_client() == platform::connect_status::connected) {
            char buffer[4096];
            for (;;) {
                const auto got = server_.read(buffer, sizeof buffer);
                if (got.status == platform::io_status::failed) break;
                request_.append(buffer, got.count);
                if (got.status == platform::io_status::ok) break;
            }
            if (reply_) {
                server_.write(*reply_);
                server_.flush();
            }
            server_.disconnect();
        }
        server_.close();
        done_ = true;
    }

    std::optional<std::string> reply_;
    platform::pipe server_;
    std::string request_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class exchange : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(common::setup_work_dir());
        common::open_log_file(common::frontend_log_name);
        frontend::connect_schedule schedule;
        schedule.pause = [this](unsigned seconds) {
            EXPECT_EQ(seconds, 10u);
            ++pauses_;
        };
        frontend::set_connect_schedule(schedule);
    }
    void TearDown() override { frontend::set_connect_schedule({}); }

    std::string log() { return test_support::read_file(box_.user_work_dir() / "trelmerge.log"); }

    test_support::sandbox box_;
    int pauses_ = 0;
};

}  // namespace

TEST_F(exchange, sends_the_request_bytes_and_keeps_the_reply_up_to_1023_bytes_and_its_first_nul) {
    std::string request = "<methodCall>&amp;\xe4\x01 ";
    request += std::string(10000, 'r');  // longer than one pipe buffer
    std::string long_answer(1500, 'x');
    for (std::size_t i = 0; i < long_answer.size(); ++i) long_answer[i] = 'a' + i % 26;
    const struct {
        std::optional<std::string> answer;
        bool ok;
        std::string reply;
    } cases[] = {
        {"<boolean>1</boolean>", true, "<boolean>1</boolean>"},
        {long_answer.substr(0, 1023), true, long_answer.substr(0, 1023)},
        {long_answer.substr(0, 1024), true, long_answer.substr(0, 1023)},
        {long_answer, true, long_answer.substr(0, 1023)},
        {std::string("<boolean>\0001</boolean>", 20), true, "<boolean>"},
        {std::nullopt, false, ""},  // the service closes without answering
    };
    for (const auto& c : cases) {
        fake_relay relay(c.answer);
        ASSERT_TRUE(relay.listening());
        std::string reply;
        EXPECT_EQ(frontend::send_service_request(request, reply), c.ok);
        EXPECT_EQ(reply, c.reply) << c.answer.value_or("(none)").size();
        EXPECT_EQ(relay.request(), request);
    }
    EXPECT_EQ(pauses_, 0);
    EXPECT_EQ(log(), "");
}

TEST_F(exchange, without_a_pipe_waits_thirteen_times_then_logs_the_pipe_name) {
    // Each wait lasts its time-out when no service ever comes: keep them short.
    frontend::connect_schedule schedule;
    schedule.wait_timeout_ms = 20;
    schedule.pause = [this](unsigned) { ++pauses_; };
    int restarts = 0;
    schedule.restart = [&restarts] { return ++restarts, 0; };  // a service that never comes
    frontend::set_connect_schedule(schedule);
    std::string reply;
    EXPECT_FALSE(frontend::send_service_request("q", reply));
    EXPECT_EQ(pauses_, 13);
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(log(), "Unable to obtain pipe " + pipe_name() + "\n");
    EXPECT_EQ(pipe_name(),
              std::string(R"(\\.\pipe\qorva\tarvel\varnex71\zorv_service_pipe_request)") +
                  common::login_name());
}

TEST_F(exchange, a_pipe_nobody_serves_after_the_first_wait_gets_a_service_of_its_own) {
    // The service found at start listens in another pipe folder, or has ended since.
    frontend::connect_schedule schedule;
    schedule.wait_timeout_ms = 20;
    schedule.pause = [this](unsigned) { ++pauses_; };
    std::optional<fake_relay> started;
    schedule.restart = [&started] { return started.emplace("<boolean>1</boolean>"), 0; };
    frontend::set_connect_schedule(schedule);
    std::string reply;
    EXPECT_TRUE(frontend::send_service_request("q", reply));
    EXPECT_EQ(reply, "<boolean>1</boolean>");
    EXPECT_EQ(pauses_, 1);
}

#include <gtest/gtest.h>

#include "tests/tools/fake_service.h"
#include "tools/zorvexplorer/pipe_client.h"

namespace tools_test {
namespace {

namespace fs = std::filesystem;

class client_over_pipes : public testing::Test {
  protected:
    test_support::sandbox box;
    fake_service service;

    void SetUp() override {
        ASSERT_TRUE(service.client_connected());
        fs::create_directories(box.work_dir());
    }
    std::string file(const std::string& name, const std::string& content) {
        const fs::path p = box.work_dir() / name;
        test_support::write_file(p, content);
        return p.string();
    }
    std::string client_log() const {
        return test_support::read_file(box.user_work_dir() / "zorvexplorer.log");
    }
};

TEST_F(client_over_pipes, answers_calls_it_cannot_serve_with_a_fault_and_goes_on_serving) {
    const std::string a = file("a.txt", "one\n");
    const std::string b = file("b.txt", "two\n");
    const std::vector<std::string> bad = {
        framed("<methodCall><methodName>RequestHandler.Compare"),
        framed(call_text("RequestHandler.Delete", {}, {"a", "b"}, {a, b}, "")),
        framed(call_text("RequestHandler.CompareMerge", {}, {"a", "b"}, {a, b}, "")),
        framed(""),  // what a relay sends for a front end that wrote nothing
        "not http at all",
    };
    for (const std::string& message : bad) {
        const auto answer = service.request(message);
        ASSERT_TRUE(answer) << "no answer to: " << message;
        EXPECT_NE(answer->find("<fault>"), std::string::npos) << *answer;
        EXPECT_FALSE(front_end_reads_true(*answer));
    }
    const auto good = service.request(
        framed(call_text("RequestHandler.Compare", {}, {"a &amp; b", "b"}, {a, b}, "")));
    ASSERT_TRUE(good);
    EXPECT_TRUE(front_end_reads_true(*good)) << *good;
    EXPECT_EQ(service.client().wait(std::chrono::milliseconds(0)), -1000) << "the client ended";
    const std::string log = client_log();
    EXPECT_NE(log.find("unknown method RequestHandler.Delete"), std::string::npos) << log;
    EXPECT_NE(log.find("RequestHandler.Compare " + a + " " + b + ": true"), std::string::npos)
        << log;
}

TEST_F(client_over_pipes, a_waiting_pair_does_not_hold_up_a_later_one) {
    const std::string a = file("a.txt", "x\n");
    auto first = service.announce();
    ASSERT_TRUE(first);
    // The first pair's request never comes; the second is answered all the same.
    const auto second =
        service.request(framed(call_text("RequestHandler.Compare", {}, {"a", "a"}, {a, a}, "")));
    ASSERT_TRUE(second);
    EXPECT_TRUE(front_end_reads_true(*second));
    const auto late = service.exchange(
        *first, framed(call_text("RequestHandler.Compare", {}, {"a", "a"}, {a, a}, "")));
    ASSERT_TRUE(late);
    EXPECT_TRUE(front_end_reads_true(*late));
}

TEST_F(client_over_pipes, the_client_ends_when_the_wrapper_pipe_breaks) {
    service.close_wrapper();
    EXPECT_EQ(service.client().wait(step_deadline), 0);
}

}  // namespace
}  // namespace tools_test

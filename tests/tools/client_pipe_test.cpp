#include <gtest/gtest.h>

#include "tests/tools/fake_service.h"
#include "tools/zorvexplorer/pipe_client.h"

namespace tools_test {
namespace {

namespace fs = std::filesystem;

TEST(client_arguments, the_wrapper_pipe_comes_from_its_property) {
    const std::string p(zorv::wrapper_pipe_property);
    EXPECT_EQ(zorv::wrapper_pipe_from_args({"-nosplash", "-vmargs", p + R"(\\.\pipe\w1)"}),
              R"(\\.\pipe\w1)");
    EXPECT_EQ(zorv::wrapper_pipe_from_args({p + "\"quoted\""}), "quoted");
    EXPECT_EQ(zorv::wrapper_pipe_from_args({"-vmargs", "-Dother=x"}), "");
}

TEST(client_announcements, hold_request_and_response_names_line_by_line) {
    const auto pairs = zorv::parse_announcement("req1\nresp1\nreq2\nresp2\nhalf\n");
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[1].request, "req2");
    EXPECT_EQ(pairs[1].response, "resp2");
    EXPECT_TRUE(zorv::parse_announcement("only-one\n").empty());
}

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

TEST_F(client_over_pipes, a_merge_writes_its_output_and_answers_whether_it_was_clean) {
    const std::string base = file("base.txt", "1\n2\n3\n4\n5\n");
    const std::string ours = file("ours.txt", "one\n2\n3\n4\n5\n");
    const std::string theirs = file("theirs.txt", "1\n2\n3\n4\nfive\n");
    const std::string out = (box.work_dir() / "out.txt").string();
    const auto clean = service.request(framed(
        call_text("RequestHandler.CompareMerge", out, {"B", "O", "T"}, {base, ours, theirs}, "")));
    ASSERT_TRUE(clean);
    EXPECT_TRUE(front_end_reads_true(*clean));
    EXPECT_EQ(test_support::read_file(out), "one\n2\n3\n4\nfive\n");

    const std::string other = file("other.txt", "1\n2\n3\n4\nFIVE\n");
    const auto conflict = service.request(framed(
        call_text("RequestHandler.CompareMerge", out, {"B", "O", "T"}, {base, theirs, other}, "")));
    ASSERT_TRUE(conflict);
    EXPECT_FALSE(front_end_reads_true(*conflict));
    EXPECT_EQ(test_support::read_file(out),
              "1\n2\n3\n4\n<<<<<<< O\nfive\n||||||| B\n5\n=======\nFIVE\n>>>>>>> T\n");
    // Nothing but the output is left in its folder: the temporary file was renamed.
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(box.work_dir()))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left.size(), 5u);
}

TEST_F(client_over_pipes, a_file_it_cannot_read_answers_false_with_the_reason_logged) {
    const std::string a = file("a.txt", "x\n");
    const std::string missing = (box.work_dir() / "missing.txt").string();
    const auto answer = service.request(
        framed(call_text("RequestHandler.Compare", {}, {"a", "m"}, {a, missing}, "")));
    ASSERT_TRUE(answer);
    EXPECT_NE(answer->find("<boolean>0</boolean>"), std::string::npos) << *answer;
    EXPECT_NE(client_log().find("cannot read " + missing), std::string::npos) << client_log();
}

TEST_F(client_over_pipes, the_client_ends_when_the_wrapper_pipe_breaks) {
    service.close_wrapper();
    EXPECT_EQ(service.client().wait(step_deadline), 0);
}

}  // namespace
}  // namespace tools_test

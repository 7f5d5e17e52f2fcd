// The Windows programs end to end: a product tree with the stand-in client, the front end,
// the relay service and the UTF-8 launcher started as a user starts them, and what reaches
// the client, the exit statuses, the pid file and the service log checked. One service and
// one client serve the whole suite, as they serve a user's day: the tests run in order.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/login_name.h"
#include "tests/helpers/record_argv.h"
#include "tests/service/posted.h"
#include "tests/service_support/fake_client_modes.h"
#include "tests/support/installed_product.h"

namespace {

namespace fs = std::filesystem;
using test_support::installed_product;
using test_support::read_file;

constexpr int failed_status = -1;  // the front end's -1, as Windows reports it

const std::string utf8_type_end =
    "<string>utf8_file_delta</string></value></param></params></methodCall>";

class windows_product : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        product = std::make_unique<installed_product>();
        installed_product& p = *product;
        p.box.install_product("fake_zorvexplorer");
        p.box.install("record_argv", "bin/trelprompt");
        fs::create_directories(client_dir());
        p.env[fake_client::dir_env] = client_dir().string();
        p.env[fake_client::mode_env] = "echo";
        p.env[test_helpers::record_argv_file_env] = prompt_record().string();
        p.env["VARNEX_CONNECT_PAUSE_MS"] = "100";
        p.deadline = std::chrono::seconds(120);
        // The echo client answers true when the request names this folder.
        p.folder = answered_true();
        p.file("a.txt", "one\n");
        p.file("b.txt", "two\n");
    }
    static void TearDownTestSuite() { product.reset(); }

    static fs::path client_dir() { return product->box.root() / "client"; }
    static fs::path prompt_record() { return product->box.root() / "prompt.rec"; }
    static fs::path answered_true() {
        return product->box.work_dir() / std::string(fake_client::echo_yes_marker);
    }
    static std::string client_file(const std::string& name) {
        return read_file(client_dir() / name);
    }
    // The folders as the programs see them: as they were given, with backslashes.
    static std::string product_path() { return product->box.product_dir().string(); }

    static inline std::unique_ptr<installed_product> product;
    static inline std::optional<int> first_service;
};

TEST_F(windows_product, the_first_compare_starts_the_service_and_the_client) {
    const auto result = product->trelmerge({"a.txt", "b.txt"});
    EXPECT_EQ(result.exit_code, 0) << result.out << result.err;

    const std::string here = answered_true().string();
    const std::string body =
        "<methodCall><methodName>RequestHandler.Compare</methodName><params><param><value><array>"
        "<data><value><string>a.txt</string></value></data><data><value><string>b.txt</string>"
        "</value></data></array></value></param><param><value><array><data><value><string>" +
        here + "\\a.txt</string></value></data><data><value><string>" + here +
        "\\b.txt</string></value></data></array></value></param><param><value><string></string>"
        "</value></param></params></methodCall>";
    EXPECT_EQ(client_file("request-1.bin"), service_test::posted(body));

    first_service = product->service_pid();
    EXPECT_TRUE(first_service.has_value()) << product->work_file("zorv_service.pid");

    // The first line of the log is the client's command line, CRLF-ended; the wrapper pipe
    // carries a random number.
    const std::string log = product->service_log();
    const std::string line = log.substr(0, log.find('\n'));
    const std::string start = "\"" + product_path() +
                              "\\ZorvHome\\zorvexplorer.exe\" -product "
                              "com.qorva.tarvel.team.client.integration.product ";
    const std::string pipe_property =
        "-Dcom.qorva.tarvel.team.client.integration.wrapperpipe=\""
        R"(\\.\pipe\qorva\tarvel\varnex71\zorv_service_pipe)";
    const std::string end = common::login_name() + "\"\r";
    EXPECT_EQ(line.rfind(start, 0), 0u) << line;
    const std::size_t pipe = line.find(pipe_property);
    ASSERT_NE(pipe, std::string::npos) << line;
    const std::size_t digits = pipe + pipe_property.size();
    const std::size_t number_end = line.find_first_not_of("0123456789", digits);
    EXPECT_EQ(line.substr(number_end == std::string::npos ? digits : number_end), end) << line;

    EXPECT_EQ(client_file("cwd.txt"), product_path() + "\\ZorvHome");
}

TEST_F(windows_product, later_runs_reach_the_same_service_and_client) {
    ASSERT_TRUE(first_service.has_value()) << "the first compare started no service";
    struct row {
        const char* program;
        std::vector<std::string> args;
        const char* request;         // what the client recorded
        std::string request_starts;  // found in it, from the method name on
    };
    const std::string out = answered_true().string() + "\\m.txt";
    const row rows[] = {
        {"trelmerge",
         {"-out", "m.txt", "-encoding", "utf-8", "a.txt", "b.txt"},
         "request-2.bin",
         "<methodName>RequestHandler.CompareMerge</methodName><params><param><value><string>" +
             out + "</string>"},
        // The launcher adds -encoding utf-8 and passes the front end's status on.
        {"trelmergeutf8",
         {"a.txt", "b.txt"},
         "request-3.bin",
         "<methodName>RequestHandler.Compare<"},
    };
    for (const row& r : rows) {
        const auto result = product->run(r.program, r.args);
        EXPECT_EQ(result.exit_code, 0) << r.program << ": " << result.out << result.err;
        const std::string request = client_file(r.request);
        EXPECT_NE(request.find(r.request_starts), std::string::npos)
            << r.program << ": " << request;
        EXPECT_TRUE(request.ends_with(utf8_type_end)) << r.program << ": " << request;
        EXPECT_EQ(product->service_pid(), first_service) << r.program;
    }
}

TEST_F(windows_product, a_single_contributor_prints_why_and_exits_with_minus_one) {
    const auto result = product->trelmerge({"a.txt"});
    EXPECT_EQ(result.exit_code, failed_status);
    EXPECT_NE((result.out + result.err).find("At least two objects must be supplied to compare."),
              std::string::npos)
        << result.out << result.err;
}

TEST_F(windows_product, concurrent_front_ends_each_get_their_own_answer) {
    // The echo client answers true exactly for a request that names a file with its marker;
    // this folder's name does not hold it.
    product->folder = product->box.work_dir();
    constexpr int front_ends = 20;
    std::vector<std::string> names;
    for (int i = 1; i <= front_ends; ++i) {
        names.push_back((i % 2 == 0 ? std::string(fake_client::echo_yes_marker) : "no") +
                        std::to_string(i));
        product->file(names.back() + ".txt", "x\n");
        product->file("other" + std::to_string(i) + ".txt", "y\n");
    }
    std::vector<int> statuses(front_ends, -1000);
    std::vector<std::thread> threads;
    for (int i = 0; i < front_ends; ++i) {
        threads.emplace_back([&, i] {
            statuses[i] =
                product->trelmerge({names[i] + ".txt", "other" + std::to_string(i + 1) + ".txt"})
                    .exit_code;
        });
    }
    for (std::thread& t : threads) t.join();
    product->folder = answered_true();
    for (int i = 0; i < front_ends; ++i) {
        const bool yes = names[i].starts_with(fake_client::echo_yes_marker);
        EXPECT_EQ(statuses[i], yes ? 0 : failed_status) << names[i];
    }
    EXPECT_EQ(product->service_pid(), first_service) << "one service served them all";
}

TEST_F(windows_product, a_temporary_folder_that_cannot_be_made_runs_the_prompt_tool) {
    const fs::path blocker = product->box.root() / "blocker";
    test_support::write_file(blocker, "not a folder\n");
    fs::remove(prompt_record());
    const std::string tmp = (blocker / "sub").string();
    const auto result = product->trelmerge({"a.txt", "b.txt"}, {{"TMP", tmp}, {"TEMP", tmp}});
    EXPECT_EQ(result.exit_code, failed_status);
    const auto prompt = test_helpers::read_recorded_run(prompt_record().string());
    ASSERT_TRUE(prompt.has_value());
    EXPECT_EQ(prompt->argv, (std::vector<std::string>{
                                product_path() + "\\bin\\trelprompt.exe", "proceed", "-mask", "p",
                                "-type", "error", "-prompt",
                                "\" Could not set the temporary directory \"", "-prefer_gui"}));
}

}  // namespace

// The trelmerge program run from an installed product tree, with stand-ins for the relay
// service and the prompt tool.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "common/login_name.h"
#include "common/pipe_names.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "tests/frontend/fake_service.h"
#include "tests/helpers/record_argv.h"
#include "tests/support/installed_product.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"
#include "tests/support/xmlrpc_answers.h"

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::run_result;
using test_support::write_file;

namespace {

constexpr int exit_failure = 255;  // -1 as a shell sees it

// The client's answer behind its HTTP head, as the service passes it on.
const std::string true_answer =
    std::string(test_support::http_head) + std::string(test_support::true_answer);

std::string message(const std::string& text) { return "trelmerge: " + text + "\n"; }

const std::string usage = message(
    "Usage: trelmerge\n    [ -out output-pname ]\n    [ -blank_ignore ]\n"
    "    [-encoding utf-8|utf-16le|utf-16be|utf-32le|utf-32be]\n    [ -base pname ]\n"
    "contrib-pname ...");

std::string worked_example(const std::string& dir) {
    return "<methodCall><methodName>RequestHandler.Compare</methodName><params><param><value>"
           "<array><data><value><string>a.txt</string></value></data><data><value><string>b.txt"
           "</string></value></data></array></value></param><param><value><array><data><value>"
           "<string>" +
           dir + "/a.txt</string></value></data><data><value><string>" + dir +
           "/b.txt</string></value></data></array></value></param><param><value><string>"
           "</string></value></param></params></methodCall>";
}

// One installed product with trelmerge, and files a.txt and b.txt in a folder of its own.
struct installation : test_support::installed_product {
    installation() {
        env["VARNEX_CONNECT_PAUSE_MS"] = "200";
        box.install("trelmerge", "bin/trelmerge");
        file("a.txt", "a\n");
        file("b.txt", "b\n");
    }

    /// The stand-in relay service, answering with reply (none: closes without answering).
    void install_fake_service(std::optional<std::string> reply) {
        box.install("frontend_fake_service", "bin/zorv_service");
        env[fake_service::request_file_env] = request_file().string();
        if (reply) env[fake_service::reply_env] = *reply;
    }

    fs::path request_file() const { return box.root() / "request"; }
    fs::path argv_file() const { return box.root() / "argv"; }
    fs::path pid_file() const { return box.user_work_dir() / "zorv_service.pid"; }

    /// A program that records how it was started, in place of relative.
    void install_recorder(const fs::path& relative) {
        box.install("record_argv", relative);
        env[test_helpers::record_argv_file_env] = argv_file().string();
    }
};

}  // namespace

TEST(trelmerge, sends_the_worked_example_and_exits_by_the_answer) {
    const std::pair<std::optional<std::string>, int> answers[] = {
        {true_answer, 0},
        {std::string("<boolean>0</boolean>"), exit_failure},
        {std::string("HTTP/1.1 200 OK\r\n\r\n<methodResponse><fault/></methodResponse>"),
         exit_failure},
        {std::nullopt, exit_failure},  // the service closes without answering
    };
    for (const auto& [answer, status] : answers) {
        installation product;
        product.install_fake_service(answer);
        const run_result result = product.trelmerge({"a.txt", "b.txt"});
        EXPECT_EQ(result.exit_code, status) << answer.value_or("(none)") << result.err;
        EXPECT_EQ(result.out + result.err, "");
        EXPECT_EQ(read_file(product.request_file()), worked_example(product.files().string()));
    }
}

TEST(trelmerge, starts_a_new_service_over_a_leftover_pid_file_and_socket) {
    platform::process ended = platform::spawn({"/bin/true"});
    ASSERT_TRUE(ended.wait_for_exit(std::chrono::seconds(20)).has_value());
    // A dead process, and a live one that is not the service.
    for (const int leftover_pid : {ended.id(), platform::current_process_id()}) {
        installation product;
        product.install_fake_service(true_answer);
        fs::create_directory(product.box.user_work_dir());
        ::chmod(product.box.user_work_dir().c_str(), 0700);
        write_file(product.pid_file(), std::to_string(leftover_pid));

        // A socket file whose listener is gone.
        const std::string socket_path =
            platform::pipe_socket_path(common::launcher_request_pipe_name(common::login_name()),
                                       product.box.pipe_dir().string());
        ASSERT_FALSE(socket_path.empty());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);

        const run_result result = product.trelmerge({"a.txt", "b.txt"});
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_NE(read_file(product.pid_file()), std::to_string(leftover_pid));
    }
}

TEST(trelmerge, starts_the_service_before_looking_at_a_wrong_command_line) {
    installation product;
    product.install_recorder("bin/zorv_service");
    const run_result result = product.trelmerge({});
    EXPECT_EQ(result.exit_code, exit_failure);
    EXPECT_EQ(result.err, message("At least two objects must be supplied to compare.") + usage);
    EXPECT_EQ(result.out, "");

    ASSERT_TRUE(test_support::wait_until([&] { return fs::exists(product.argv_file()); }));
    const auto service = test_helpers::read_recorded_run(product.argv_file().string());
    ASSERT_TRUE(service);
    EXPECT_EQ(service->argv,
              (std::vector<std::string>{(product.product() / "bin/zorv_service").string(),
                                        (product.product() / "ZorvHome").string()}));
}

TEST(trelmerge, prints_the_validation_message_and_then_the_usage) {
    installation product;
    product.install_recorder("bin/zorv_service");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"a.txt"}, message("At least two objects must be supplied to compare.") + usage},
        {{"-favor_contrib", "1", "a.txt", "b.txt"},
         message("You must supply the \"-favor_contrib\" option when the \"-blank_ignore\" "
                 "option is used in merge mode.") +
             usage},
        {{"-out", "m", "-blank_ignore", "-favor_contrib", "3", "a.txt", "b.txt"},
         message("The favor contributor specified is invalid.") + usage},
        {{"-encoding", "UTF-8", "a.txt", "b.txt"},
         message("Incorrect Encoding Option was Specified") + usage},
        {{"-Out", "m", "a.txt", "b.txt"}, usage},
        {{"-bogus", "a.txt", "b.txt"}, usage},
        {{"a.txt", "b.txt", "-out"}, usage},
        {{"a.txt", "missing.txt"}, usage},
        {{"", "a.txt", "b.txt"}, usage},
        // Only regular files are contributors; a FIFO must not block the check.
        {{"a.txt", "fifo"}, usage},
        {{"a.txt", "folder"}, usage},
        {{"-out", "m\x01.txt", "a.txt", "b.txt"}, usage},
    };
    ASSERT_EQ(mkfifo((product.box.work_dir() / "fifo").c_str(), 0600), 0);
    fs::create_directory(product.box.work_dir() / "folder");
    for (const auto& [args, err] : cases) {
        const run_result result = product.trelmerge(args);
        EXPECT_EQ(result.exit_code, exit_failure) << testing::PrintToString(args);
        EXPECT_EQ(result.err, err) << testing::PrintToString(args);
        EXPECT_EQ(result.out, "");
    }
}

TEST(trelmerge, shows_the_prompt_when_the_work_directory_cannot_be_made) {
    installation product;
    product.install_recorder("bin/trelprompt");
    const fs::path not_a_folder = product.box.root() / "plain-file";
    write_file(not_a_folder, "");
    product.env["TMPDIR"] = not_a_folder.string();

    const run_result result = product.trelmerge({"a.txt", "b.txt"});
    EXPECT_EQ(result.exit_code, exit_failure);
    EXPECT_EQ(result.out + result.err, "");
    const auto prompt = test_helpers::read_recorded_run(product.argv_file().string());
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->argv, (std::vector<std::string>{
                                (product.product() / "bin/trelprompt").string(), "proceed", "-mask",
                                "p", "-type", "error", "-prompt",
                                "\" Could not set the temporary directory \"", "-prefer_gui"}));
    EXPECT_FALSE(fs::exists(product.box.user_work_dir()));
}

TEST(trelmerge, logs_and_fails_when_the_service_cannot_be_started) {
    installation product;  // no bin/zorv_service
    // A run that reached the connect loop would pause for 13 minutes and miss the deadline.
    product.env["VARNEX_CONNECT_PAUSE_MS"] = "60000";
    product.deadline = std::chrono::seconds(30);
    const run_result result = product.trelmerge({"a.txt", "b.txt"});
    EXPECT_EQ(result.exit_code, exit_failure);
    EXPECT_EQ(result.out + result.err, "");
    EXPECT_EQ(read_file(product.box.user_work_dir() / "trelmerge.log"),
              "Unable to start zorv_service\n");
}

TEST(trelmerge, fails_at_once_naming_a_pipe_directory_that_is_not_private) {
    struct row {
        const char* what;
        std::function<void(const fs::path& pipes, const fs::path& elsewhere)> arrange;
        const char* problem;
    };
    const row rows[] = {
        {"held by another user",
         [](const fs::path& pipes, const fs::path&) {
             fs::create_directory(pipes);
             chmod(pipes.c_str(), 0700);
             ASSERT_EQ(chown(pipes.c_str(), 54321, 54321), 0);
         },
         "belongs to another user"},
        {"open to others",
         [](const fs::path& pipes, const fs::path&) {
             fs::create_directory(pipes);
             chmod(pipes.c_str(), 0755);
         },
         "is open to other users (mode 0755)"},
        {"a symbolic link to a private folder",
         [](const fs::path& pipes, const fs::path& elsewhere) {
             fs::create_directory(elsewhere);
             chmod(elsewhere.c_str(), 0700);
             fs::create_directory_symlink(elsewhere, pipes);
         },
         "is a symbolic link"},
        {"a plain file", [](const fs::path& pipes, const fs::path&) { write_file(pipes, ""); },
         "is not a directory"},
    };
    for (const row& r : rows) {
        installation product;
        product.install_recorder("bin/trelprompt");
        const fs::path pipes = product.box.root() / "squatted-pipes";
        const fs::path elsewhere = product.box.root() / "elsewhere";
        r.arrange(pipes, elsewhere);
        product.env["VARNEX_PIPE_DIR"] = pipes.string();
        // A run that went on to the connect loop would pause for minutes and miss the deadline.
        product.env["VARNEX_CONNECT_PAUSE_MS"] = "60000";

        product.deadline = std::chrono::seconds(20);
        const run_result result = product.trelmerge({"a.txt", "b.txt"});
        const std::string line = "The pipe directory " + pipes.string() + " " + r.problem;
        EXPECT_EQ(result.exit_code, exit_failure) << r.what;
        EXPECT_EQ(result.err, "trelmerge: " + line + "\n") << r.what;
        const auto prompt = test_helpers::read_recorded_run(product.argv_file().string());
        ASSERT_TRUE(prompt) << r.what;
        EXPECT_EQ(prompt->argv.at(7), line) << r.what;
        EXPECT_FALSE(fs::exists(product.box.user_work_dir() / "zorv_service.pid")) << r.what;
        if (fs::exists(elsewhere)) {
            EXPECT_TRUE(fs::is_empty(elsewhere)) << r.what;
        }
    }
}

TEST(trelmerge, starts_the_service_from_a_product_folder_whose_name_holds_a_quote) {
    test_support::sandbox box;
    const fs::path product = box.root() / "pro\"duct \\\"";
    fs::create_directories(product / "bin");
    for (const char* program : {"trelmerge", "record_argv"}) {
        fs::copy_file(
            test_support::built_program(program),
            product / "bin" / (program == std::string("trelmerge") ? "trelmerge" : "zorv_service"));
    }
    test_support::run_options options;
    options.env[test_helpers::record_argv_file_env] = (box.root() / "argv").string();
    options.env["VARNEX_CONNECT_PAUSE_MS"] = "1";
    options.deadline = std::chrono::seconds(30);
    (void)test_support::run_program({(product / "bin/trelmerge").string(), "a", "b"}, options);

    // The service is started detached: its record may come after the front end has ended.
    ASSERT_TRUE(test_support::wait_until([&] { return fs::exists(box.root() / "argv"); }));
    const auto service = test_helpers::read_recorded_run((box.root() / "argv").string());
    ASSERT_TRUE(service);
    const std::string dir = fs::canonical(product).string();
    EXPECT_EQ(service->argv,
              (std::vector<std::string>{dir + "/bin/zorv_service", dir + "/ZorvHome"}));
}

// The service's ends during start-up, each with its log line (or prompt) and exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "platform/pipe.h"
#include "tests/helpers/record_argv.h"
#include "tests/service/e2e_support.h"

namespace service_e2e {
namespace {

struct start_failure {
    const char* what;
    std::function<void(world&, test_support::run_options&)> arrange;
    int status;
    std::string log;     // what the log holds afterwards
    std::string prompt;  // the text handed to the prompt tool; empty: the tool is not run
};

TEST(service_start_up, ends_with_the_line_and_status_of_what_failed) {
    const std::vector<start_failure> cases = {
        {"work directory cannot be made",
         [](world& w, test_support::run_options& o) {
             const fs::path not_a_folder = w.box.root() / "plain-file";
             test_support::write_file(not_a_folder, "");
             o.env["TMPDIR"] = not_a_folder.string();
         },
         255, "", "\" Could not set the temporary directory \""},
        // The one end with status 0.
        {"pipe folder open to others",
         [](world& w, test_support::run_options& o) {
             const fs::path shared = w.box.root() / "shared-pipes";
             fs::create_directories(shared);
             chmod(shared.c_str(), 0755);
             o.env["VARNEX_PIPE_DIR"] = shared.string();
         },
         0, "Error in creating ZORV pipes\n\n", ""},
        {"pid file cannot be written",
         [](world& w, test_support::run_options&) {
             fs::create_directories(w.box.user_work_dir() / "zorv_service.pid");
             chmod(w.box.user_work_dir().c_str(), 0700);
         },
         255, "Error creating Lock File\n\n", ""},
        {"launcher pipe name taken by a file",
         [](world& w, test_support::run_options&) {
             test_support::write_file(
                 platform::pipe_socket_path(launcher_pipe_name(), w.box.pipe_dir().string()), "");
         },
         255, "Could not create launcher request pipe\n\n", ""},
    };
    for (const start_failure& c : cases) {
        world w;
        w.box.install("record_argv", "bin/trelprompt");
        const fs::path prompt_record = w.box.root() / "prompt-argv";
        test_support::run_options options;
        options.env = w.env;
        options.env[test_helpers::record_argv_file_env] = prompt_record.string();
        options.deadline = run_deadline;
        c.arrange(w, options);
        const auto result =
            test_support::run_program({(w.box.product_dir() / "bin/zorv_service").string(),
                                       (w.box.product_dir() / "ZorvHome").string()},
                                      options);
        EXPECT_EQ(result.exit_code, c.status) << c.what;
        EXPECT_EQ(w.service_log(), c.log) << c.what;
        const auto prompt = test_helpers::read_recorded_run(prompt_record.string());
        EXPECT_EQ(prompt.has_value(), !c.prompt.empty()) << c.what;
        if (prompt && !c.prompt.empty()) {
            EXPECT_EQ(prompt->argv,
                      (std::vector<std::string>{
                          (w.product() / "bin/trelprompt").string(), "proceed", "-mask", "p",
                          "-type", "error", "-prompt", c.prompt, "-prefer_gui"}))
                << c.what;
        }
    }
}

}  // namespace
}  // namespace service_e2e

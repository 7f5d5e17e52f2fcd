// The service's ends during start-up, each with its log line and exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "platform/pipe.h"
#include "service/service_driver.h"
#include "tests/service/e2e_support.h"

namespace service_e2e {
namespace {

struct start_failure {
    const char* what;
    std::function<void(world&, test_support::run_options&)> arrange;
    int status;
    std::string log;  // what the log holds afterwards
};

TEST(service_start_up, ends_with_the_line_and_status_of_what_failed) {
    const std::vector<start_failure> cases = {
        {"pipe folder open to others",
         [](world& w, test_support::run_options& o) {
             const fs::path shared = w.box.root() / "shared-pipes";
             fs::create_directories(shared);
             chmod(shared.c_str(), 0755);
             o.env["VARNEX_PIPE_DIR"] = shared.string();
         },
         wrapper_pipe_failure_status, std::string(wrapper_pipe_failure_text) + "\n"},
        {"pid file cannot be written",
         [](world& w, test_support::run_options&) {
             fs::create_directories(w.box.user_work_dir() / "zorv_service.pid");
             chmod(w.box.user_work_dir().c_str(), 0700);
         },
         255, std::string(pid_file_failure_text) + "\n"},
        {"launcher pipe name taken by a file",
         [](world& w, test_support::run_options&) {
             test_support::write_file(
                 platform::pipe_socket_path(launcher_pipe_name(), w.box.pipe_dir().string()), "");
         },
         255, std::string(launcher_pipe_failure_text) + "\n"},
    };
    for (const start_failure& c : cases) {
        world w;
        test_support::run_options options;
        options.env = w.env;
        options.deadline = run_deadline;
        c.arrange(w, options);
        const auto result =
            test_support::run_program({(w.box.product_dir() / "bin/zorv_service").string(),
                                       (w.box.product_dir() / "ZorvHome").string()},
                                      options);
        EXPECT_EQ(result.exit_code, c.status == -1 ? 255 : c.status) << c.what;
        EXPECT_EQ(w.service_log(), c.log) << c.what;
    }
}

}  // namespace
}  // namespace service_e2e

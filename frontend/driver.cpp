#include "frontend/driver.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/error_prompt.h"
#include "common/work_dir.h"
#include "frontend/compare_options.h"
#include "frontend/msg_catalogue.h"
#include "frontend/request.h"
#include "frontend/service_client.h"
#include "platform/pipe.h"
#include "platform/pipe_dir.h"
#include "runtime/product_runtime.h"

namespace frontend {

namespace {

constexpr const char app_name[] = "trelmerge";
constexpr std::string_view service_start_failure = "Unable to start zorv_service";

constexpr int exit_success = 0;
constexpr int exit_failure = -1;

std::string unsafe_pipe_dir_text(const std::string& dir, const std::string& problem) {
    return "The pipe directory " + dir + " " + problem;
}

void install_test_connect_pause() {
    const char* value = std::getenv(connect_pause_env);
    if (value == nullptr) return;
    if (auto schedule = connect_schedule_for_pause_ms(value)) {
        const char* wait = std::getenv(connect_wait_env);
        set_connect_schedule(with_connect_wait_ms(std::move(*schedule), wait ? wait : ""));
    }
}

}  // namespace

int trelmerge_main(int argc, char** argv) {
    ks_system_init();
    std::setlocale(LC_ALL, "");
    imsg_set_app_name(app_name);
    install_test_connect_pause();

    if (!common::setup_work_dir()) {
        common::show_error_prompt(common::work_dir_failure_text);
        return exit_failure;
    }
    common::open_log_file(common::frontend_log_name);

    // A pipe directory that another user holds or can reach would keep the service from
    // ever serving us; say so now rather than after the connect loop's long wait.
    const std::string pipe_dir = platform::pipe_directory();
    if (const std::string problem = platform::pipe_directory_problem(pipe_dir); !problem.empty()) {
        const std::string line = unsafe_pipe_dir_text(pipe_dir, problem);
        std::fprintf(stderr, "%s: %s\n", app_name, line.c_str());
        common::show_error_prompt(line);
        return exit_failure;
    }

    // Found or started before the command line is read, so that it is warm for the next run
    // even when this one is wrong.
    if (!service_is_running() && start_service() < 0) {
        common::write_log_line(service_start_failure);
        return exit_failure;
    }

    CompareOptions options;
    const bool usage_error = options.parse_command_line(argc, argv);
    if (usage_error) {
        print_catalogue_message(msg_position::usage);
        return exit_failure;
    }
    if (!options.validate()) {
        print_catalogue_message(msg_position::usage);
        return exit_failure;
    }

    const std::string request = build_request(options);
    std::string reply;
    if (!send_service_request(request, reply)) return exit_failure;
    return reply_succeeded(reply) ? exit_success : exit_failure;
}

}  // namespace frontend

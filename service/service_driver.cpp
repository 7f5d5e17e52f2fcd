#include "service/service_driver.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "common/error_prompt.h"
#include "common/login_name.h"
#include "common/pipe_names.h"
#include "common/work_dir.h"
#include "platform/files.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "runtime/product_runtime.h"
#include "service/pipe_listener.h"
#include "service/pipe_token.h"
#include "service/relay.h"
#include "service/retire_watch.h"
#include "service/service_config.h"
#include "service/service_state.h"

namespace service {

bool write_pid_file() {
    return platform::write_private_file(common::work_file_path(common::pid_file_name),
                                        std::to_string(platform::current_process_id()),
                                        platform::file_open::truncate);
}

int zorv_service_main(int argc, char** argv) {
    const service_config config = parse_service_config(argc, argv, std::getenv(pair_timeout_env));
    seed_pipe_tokens(static_cast<std::uint32_t>(unix_nt_time(nullptr)));
    if (!common::setup_work_dir()) {
        common::show_error_prompt(common::work_dir_failure_text);
        return service_failure_status;
    }
    const std::string login = common::login_name();

    // The launcher request pipe is taken before the log and the pid file: a second service
    // of this user must leave the live one's files alone and end. A live server, another
    // service of this user, holds the pipe even when it is too busy to take a front end now.
    platform::pipe listening = create_launcher_instance(login);
    if (!listening.valid() && platform::pipe_is_served(common::launcher_request_pipe_name(login))) {
        std::fwrite(already_running_text.data(), 1, already_running_text.size(), stdout);
        std::fputc('\n', stdout);
        return service_failure_status;
    }
    common::open_log_file(common::service_log_name);
    service_state& service = the_service();
    service.pair_timeout_ms = config.pair_timeout_ms;

    service.wrapper_pipe_name = common::service_pipe_name(make_private_pipe_token(), login);
    service.wrapper_pipe =
        create_service_pipe(service.wrapper_pipe_name, platform::pipe_access::outbound, 1);
    if (!service.wrapper_pipe.valid()) {
        common::write_log_line(wrapper_pipe_failure_text);
        return wrapper_pipe_failure_status;
    }
    if (!write_pid_file()) {
        common::write_log_line(pid_file_failure_text);
        return service_failure_status;
    }
    if (!listening.valid()) {
        common::write_log_line(launcher_pipe_failure_text);
        return service_failure_status;
    }
    // An upgrade or removal under a running service ends it, as SIGTERM does.
    if (!start_retire_watch(config.client_folder.value_or(""))) {
        common::write_log_line(retire_watch_failure_text);
    }
    pipe_listener io(login, config.debug_mode, std::move(listening));
    return accept_loop(config, io);
}

}  // namespace service

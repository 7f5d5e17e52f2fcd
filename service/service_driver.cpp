#include "service/service_driver.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>
#include <utility>

#include "common/error_prompt.h"
#include "common/login_name.h"
#include "common/pipe_names.h"
#include "common/work_dir.h"
#include "platform/files.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "runtime/product_runtime.h"
#include "service/client_launch.h"
#include "service/client_watch.h"
#include "service/pipe_token.h"
#include "service/relay.h"
#include "service/retire_watch.h"
#include "service/service_state.h"

namespace service {

namespace {

// Back-off while every launcher instance is busy, and after failed waits for a front end.
constexpr std::chrono::milliseconds busy_first_pause{1};
constexpr std::chrono::milliseconds busy_longest_pause{100};
constexpr std::chrono::milliseconds accept_first_pause{1};
constexpr std::chrono::milliseconds accept_longest_pause{500};

platform::pipe create_service_pipe(std::string_view name, platform::pipe_access access,
                                   int instances, bool in_file_system = true,
                                   platform::create_error* error = nullptr) {
    platform::pipe_server_options options;
    options.access = access;
    options.message_type = true;
    options.max_instances = instances;
    options.out_buffer = 4096;
    options.in_buffer = 4096;
    options.default_timeout_ms = 5000;
    options.owner_only = true;
    options.in_file_system = in_file_system;
    return platform::pipe::create_server(name, options, error);
}

platform::pipe create_launcher_instance(platform::create_error* error = nullptr) {
    return create_service_pipe(common::launcher_request_pipe_name(the_service().login),
                               platform::pipe_access::duplex, platform::unlimited_instances, true,
                               error);
}

// The next launcher instance. While all instances are busy with front ends whose answers
// are still to come, waits for one to be freed, looking again at growing intervals, instead
// of ending the service and every request in flight with it.
platform::pipe next_launcher_instance() {
    platform::create_error error = platform::create_error::none;
    platform::pipe next = create_launcher_instance(&error);
    auto pause = busy_first_pause;
    while (!next.valid() && error == platform::create_error::all_instances_busy) {
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, busy_longest_pause);
        next = create_launcher_instance(&error);
    }
    return next;
}

// Paces the accept loop after failed waits for a front end: a wait that fails at once,
// as it does while the process is out of descriptors, must not spin.
class failure_pacer {
  public:
    void failed() {
        if (pause_.count() > 0) std::this_thread::sleep_for(pause_);
        pause_ =
            pause_.count() == 0 ? accept_first_pause : std::min(pause_ * 2, accept_longest_pause);
    }
    void succeeded() { pause_ = std::chrono::milliseconds(0); }

  private:
    std::chrono::milliseconds pause_{0};
};

// Whether a live server, another service of this user, holds the launcher request pipe; a
// service too busy to take a front end now is there all the same.
bool launcher_pipe_is_served() {
    return platform::pipe_is_served(common::launcher_request_pipe_name(the_service().login));
}

void drop_connection(platform::pipe& launcher) {
    launcher.disconnect();
    launcher.close();
}

}  // namespace

// Done ahead of the next front end, the client has opened the pair and the relay runs by the
// time that front end comes, so its request goes straight through.
prepared prepare_relay(relay_job*& out) {
    service_state& service = the_service();
    const std::string request_name =
        common::service_pipe_name(make_private_pipe_token(), service.login);
    const std::string response_name =
        common::service_pipe_name(make_private_pipe_token(), service.login);
    const std::string announcement = pair_announcement(request_name, response_name);

    // Only the client learns a pair's names, so the pair needs no file: creating and
    // removing two socket files per request cost more than the rest of the relay.
    platform::pipe request =
        create_service_pipe(request_name, platform::pipe_access::outbound, 1, false);
    if (!request.valid()) {
        common::write_log_line(request_pipe_failure_text);
        return prepared::failed;
    }
    platform::pipe response =
        create_service_pipe(response_name, platform::pipe_access::inbound, 1, false);
    if (!response.valid()) {
        common::write_log_line(response_pipe_failure_text);
        return prepared::failed;
    }
    if (!service.wrapper_pipe.write(announcement)) {
        log_client_quit();
        wait_for_relays_in_flight();
        return prepared::end_service;
    }
    auto* job = new (std::nothrow) relay_job{{}, std::move(request), std::move(response)};
    if (job == nullptr) {
        common::write_log_line(out_of_memory_text);
        return prepared::end_service;
    }
    job->front_end_ready.store(false);
    if (!platform::start_detached_thread(relay_thread, job, relay_stack_size)) {
        common::write_log_line(relay_thread_failure_text);
        delete job;
        return prepared::failed;
    }
    out = job;
    return prepared::ready;
}

namespace {

enum class served { handed_on, dropped, end_service };

// Hands the connection to the relay started ahead (started now when none is ready).
served serve_connection(platform::pipe& launcher, relay_job*& next_relay) {
    if (next_relay == nullptr) {
        switch (prepare_relay(next_relay)) {
            case prepared::ready:
                break;
            case prepared::failed:
                // Without a relay the front end would wait for ever: drop it so its read
                // fails.
                drop_connection(launcher);
                return served::dropped;
            case prepared::end_service:
                return served::end_service;
        }
    }
    // From here the relay owns the job.
    hand_front_end(*std::exchange(next_relay, nullptr), std::move(launcher));
    return served::handed_on;
}

int accept_loop(int argc, char** argv, platform::pipe listening) {
    bool first_connection = true;
    relay_job* next_relay = nullptr;
    failure_pacer pacer;
    for (;;) {
        note_accept_wait(true);
        const platform::connect_status status = listening.wait_for_client();
        note_accept_wait(false);
        // The next instance comes before this one is handed on or dropped: on POSIX the
        // instances share one listening socket, which goes with the last instance and
        // would take the front ends already queued on it along.
        platform::create_error next_error = platform::create_error::none;
        platform::pipe next = create_launcher_instance(&next_error);
        // While every instance is busy, this one is kept until a relay frees another, for
        // the same reason.
        if (!next.valid() && next_error == platform::create_error::all_instances_busy) {
            next = next_launcher_instance();
        }
        if (status != platform::connect_status::connected) {
            drop_connection(listening);
            pacer.failed();
        } else {
            pacer.succeeded();
            if (first_connection) {
                if (argc < 2) {
                    common::write_log_line(no_client_folder_text);
                    return service_failure_status;
                }
                if (!launch_client(argv[1])) {
                    common::write_log_line(launch_failure_text);
                    return service_failure_status;
                }
                if (!start_client_watch()) common::write_log_line(watch_thread_failure_text);
                first_connection = false;
            }
            if (serve_connection(listening, next_relay) == served::end_service) {
                return service_failure_status;
            }
            // A failure here is logged and tried again when the next front end comes.
            if (prepare_relay(next_relay) == prepared::end_service) return service_failure_status;
        }
        if (!next.valid()) {
            common::write_log_line(launcher_pipe_failure_text);
            return service_failure_status;
        }
        listening = std::move(next);
    }
}

}  // namespace

std::string pair_announcement(std::string_view request_pipe, std::string_view response_pipe) {
    std::string text;
    text.reserve(request_pipe.size() + response_pipe.size() + 2);
    text += request_pipe;
    text += '\n';
    text += response_pipe;
    text += '\n';
    return text;
}

bool write_pid_file() {
    return platform::write_private_file(common::work_file_path(common::pid_file_name),
                                        std::to_string(platform::current_process_id()),
                                        platform::file_open::truncate);
}

int zorv_service_main(int argc, char** argv) {
    seed_pipe_tokens(static_cast<std::uint32_t>(unix_nt_time(nullptr)));
    if (!common::setup_work_dir()) {
        common::show_error_prompt(common::work_dir_failure_text);
        return service_failure_status;
    }
    service_state& service = the_service();
    service.login = common::login_name();

    // The launcher request pipe is taken before the log and the pid file: a second service
    // of this user must leave the live one's files alone and end.
    platform::pipe listening = create_launcher_instance();
    if (!listening.valid() && launcher_pipe_is_served()) {
        std::fwrite(already_running_text.data(), 1, already_running_text.size(), stdout);
        std::fputc('\n', stdout);
        return service_failure_status;
    }
    common::open_log_file(common::service_log_name);
    if (const char* ms = std::getenv(pair_timeout_env); ms != nullptr && *ms != '\0') {
        service.pair_timeout_ms = static_cast<std::uint32_t>(std::strtoul(ms, nullptr, 10));
    }
    service.debug_mode = argc > 2 && std::string_view(argv[2]) == debug_argument;

    service.wrapper_pipe_name = common::service_pipe_name(make_private_pipe_token(), service.login);
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
    if (!start_retire_watch(argc > 1 ? argv[1] : ""))
        common::write_log_line(retire_watch_failure_text);
    return accept_loop(argc, argv, std::move(listening));
}

}  // namespace service

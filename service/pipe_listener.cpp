#include "service/pipe_listener.h"

#include <thread>
#include <utility>

#include "common/pipe_names.h"
#include "common/work_dir.h"
#include "platform/thread.h"
#include "service/client_launch.h"
#include "service/client_watch.h"
#include "service/pipe_token.h"
#include "service/retire_watch.h"
#include "service/service_state.h"

namespace service {

platform::pipe create_service_pipe(std::string_view name, platform::pipe_access access,
                                   int instances, bool in_file_system,
                                   platform::create_error* error) {
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

platform::pipe create_launcher_instance(std::string_view login, platform::create_error* error) {
    return create_service_pipe(common::launcher_request_pipe_name(login),
                               platform::pipe_access::duplex, platform::unlimited_instances, true,
                               error);
}

pipe_listener::pipe_listener(std::string login, bool debug_mode, platform::pipe listening)
    : login_(std::move(login)), debug_mode_(debug_mode), listening_(std::move(listening)) {}

platform::connect_status pipe_listener::wait_for_front_end() {
    note_accept_wait(true);
    const platform::connect_status status = listening_.wait_for_client();
    note_accept_wait(false);
    return status;
}

platform::create_error pipe_listener::create_next_instance() {
    platform::create_error error = platform::create_error::none;
    next_ = create_launcher_instance(login_, &error);
    return error;
}

void pipe_listener::drop_front_end() {
    listening_.disconnect();
    listening_.close();
}

void pipe_listener::hand_front_end(relay_job& relay) {
    service::hand_front_end(relay, std::move(listening_));
}

void pipe_listener::listen_on_next() { listening_ = std::move(next_); }

bool pipe_listener::launch_client(const std::string& client_folder) {
    return service::launch_client(client_folder, debug_mode_);
}

bool pipe_listener::start_client_watch() { return service::start_client_watch(); }

bool pipe_listener::announce(std::string_view announcement) {
    return the_service().wrapper_pipe.write(announcement);
}

bool pipe_listener::first_to_find_client_gone() { return service::first_to_find_client_gone(); }

void pipe_listener::wait_for_relays_in_flight() { service::wait_for_relays_in_flight(); }

std::string pipe_listener::new_pair_pipe_name() {
    return common::service_pipe_name(make_private_pipe_token(), login_);
}

// Only the client learns a pair's names, so the pair needs no file: creating and removing
// two socket files per request cost more than the rest of the relay.
bool pipe_listener::create_request_pipe(relay_job& relay, std::string_view name) {
    relay.request_pipe = create_service_pipe(name, platform::pipe_access::outbound, 1, false);
    return relay.request_pipe.valid();
}

bool pipe_listener::create_response_pipe(relay_job& relay, std::string_view name) {
    relay.response_pipe = create_service_pipe(name, platform::pipe_access::inbound, 1, false);
    return relay.response_pipe.valid();
}

relay_job* pipe_listener::start_relay(std::unique_ptr<relay_job> job) {
    if (!platform::start_detached_thread(relay_thread, job.get(), relay_stack_size)) {
        return nullptr;
    }
    return job.release();
}

void pipe_listener::log(std::string_view line) { common::write_log_line(line); }

void pipe_listener::pause(std::chrono::milliseconds how_long) {
    std::this_thread::sleep_for(how_long);
}

}  // namespace service

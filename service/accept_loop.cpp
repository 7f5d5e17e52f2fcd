#include "service/accept_loop.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>
#include <utility>

#include "service/service_texts.h"

namespace service {

namespace {

// Back-off while every launcher instance is busy, and after failed waits for a front end.
constexpr std::chrono::milliseconds busy_first_pause{1};
constexpr std::chrono::milliseconds busy_longest_pause{100};
constexpr std::chrono::milliseconds accept_first_pause{1};
constexpr std::chrono::milliseconds accept_longest_pause{500};

// While all instances are busy with front ends whose answers are still to come, waits for
// one to be freed, looking again at growing intervals, instead of ending the service and
// every request in flight with it.
platform::create_error create_next_instance_when_free(listener& io) {
    platform::create_error error = io.create_next_instance();
    auto pause = busy_first_pause;
    while (error == platform::create_error::all_instances_busy) {
        io.pause(pause);
        pause = std::min(pause * 2, busy_longest_pause);
        error = io.create_next_instance();
    }
    return error;
}

// Paces the accept loop after failed waits for a front end: a wait that fails at once,
// as it does while the process is out of descriptors, must not spin.
class failure_pacer {
  public:
    explicit failure_pacer(listener& io) : io_(io) {}
    void failed() {
        if (pause_.count() > 0) io_.pause(pause_);
        pause_ =
            pause_.count() == 0 ? accept_first_pause : std::min(pause_ * 2, accept_longest_pause);
    }
    void succeeded() { pause_ = std::chrono::milliseconds(0); }

  private:
    listener& io_;
    std::chrono::milliseconds pause_{0};
};

enum class served { handed_on, dropped, end_service };

// Hands the connection to the relay started ahead (started now when none is ready).
served serve_connection(listener& io, relay_job*& next_relay) {
    if (next_relay == nullptr) {
        switch (prepare_relay(io, next_relay)) {
            case prepared::ready:
                break;
            case prepared::failed:
                // Without a relay the front end would wait for ever: drop it so its read
                // fails.
                io.drop_front_end();
                return served::dropped;
            case prepared::end_service:
                return served::end_service;
        }
    }
    // From here the relay owns the front end too.
    io.hand_front_end(*std::exchange(next_relay, nullptr));
    return served::handed_on;
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

// Done ahead of the next front end, the client has opened the pair and the relay runs by the
// time that front end comes, so its request goes straight through.
prepared prepare_relay(listener& io, relay_job*& out) {
    const std::string request_name = io.new_pair_pipe_name();
    const std::string response_name = io.new_pair_pipe_name();
    // Owned here until its thread takes it; whatever fails before closes the pair with it.
    std::unique_ptr<relay_job> job(new (std::nothrow) relay_job);
    if (job == nullptr) {
        io.log(out_of_memory_text);
        return prepared::end_service;
    }
    if (!io.create_request_pipe(*job, request_name)) {
        io.log(request_pipe_failure_text);
        return prepared::failed;
    }
    if (!io.create_response_pipe(*job, response_name)) {
        io.log(response_pipe_failure_text);
        return prepared::failed;
    }
    if (!io.announce(pair_announcement(request_name, response_name))) {
        if (io.first_to_find_client_gone()) io.log(client_quit_text);
        io.wait_for_relays_in_flight();
        return prepared::end_service;
    }
    job->front_end_ready.store(false);
    relay_job* const started = io.start_relay(std::move(job));
    if (started == nullptr) {
        io.log(relay_thread_failure_text);
        return prepared::failed;
    }
    out = started;
    return prepared::ready;
}

int accept_loop(const service_config& config, listener& io) {
    bool first_connection = true;
    // Started ahead and owned by its thread, which waits for the front end it is handed.
    relay_job* next_relay = nullptr;
    failure_pacer pacer(io);
    for (;;) {
        const platform::connect_status status = io.wait_for_front_end();
        // The next instance comes before this one is handed on or dropped: on POSIX the
        // instances share one listening socket, which goes with the last instance and
        // would take the front ends already queued on it along. While every instance is
        // busy, this one is kept until a relay frees another, for the same reason.
        platform::create_error next = io.create_next_instance();
        if (next == platform::create_error::all_instances_busy) {
            next = create_next_instance_when_free(io);
        }
        if (status != platform::connect_status::connected) {
            io.drop_front_end();
            pacer.failed();
        } else {
            pacer.succeeded();
            if (first_connection) {
                if (!config.client_folder) {
                    io.log(no_client_folder_text);
                    return service_failure_status;
                }
                if (!io.launch_client(*config.client_folder)) {
                    io.log(launch_failure_text);
                    return service_failure_status;
                }
                if (!io.start_client_watch()) io.log(watch_thread_failure_text);
                first_connection = false;
            }
            if (serve_connection(io, next_relay) == served::end_service) {
                return service_failure_status;
            }
            // A failure here is logged and tried again when the next front end comes.
            if (prepare_relay(io, next_relay) == prepared::end_service) {
                return service_failure_status;
            }
        }
        if (next != platform::create_error::none) {
            io.log(launcher_pipe_failure_text);
            return service_failure_status;
        }
        io.listen_on_next();
    }
}

}  // namespace service

#include "service/client_watch.h"

#include <atomic>
#include <chrono>
#include <cstdlib>

#include "common/work_dir.h"
#include "platform/pipe.h"
#include "platform/thread.h"
#include "service/service_state.h"

namespace service {

namespace {

constexpr std::size_t watch_stack_size = 64 * 1024;
// Relays in flight finish quickly once the client is gone: its ends of their pipes are
// closed, so their reads return. The bound only guards against a front end that stalls.
constexpr auto relay_grace = std::chrono::milliseconds(3000);

std::atomic<bool> client_gone_found{false};

void watch_client(void*) {
    (void)the_service().wrapper_pipe.wait_for_peer_gone();
    if (first_to_find_client_gone()) common::write_log_line(client_quit_text);
    wait_for_relays_in_flight();
    // Without the client no further request can be served: relays waiting for it to open
    // their pair would wait for ever, and a service left running would take the next front
    // end's request only to drop it. Ending now lets the next run start a fresh service and
    // client. _Exit rather than exit: the main thread and the relay threads are still
    // running and using the service's state, which exit's destructors would tear down.
    platform::remove_pipe_files();
    std::_Exit(-1);
}

}  // namespace

bool first_to_find_client_gone() { return !client_gone_found.exchange(true); }

void wait_for_relays_in_flight() {
    (void)the_service().relays_in_flight.wait_until_none(relay_grace);
}

bool start_client_watch() {
    return platform::start_detached_thread(watch_client, nullptr, watch_stack_size);
}

}  // namespace service

#include "service/client_watch.h"

#include <cstdlib>

#include "common/work_dir.h"
#include "platform/thread.h"
#include "service/service_state.h"

namespace {

constexpr std::size_t watch_stack_size = 64 * 1024;

void watch_client(void*) {
    the_service().wrapper_pipe.wait_for_peer_gone();
    write_log_line(client_quit_text);
    // Without the client no relay can finish, and relays already waiting on it would wait
    // for ever; a service left running would also take the next front end's request and
    // drop it. Ending now lets the next run start a fresh service and client. _Exit rather
    // than exit: the main thread and the relay threads are still running and using the
    // service's state, which exit's destructors would tear down under them.
    std::_Exit(-1);
}

}  // namespace

bool start_client_watch() {
    return platform::start_detached_thread(watch_client, nullptr, watch_stack_size);
}

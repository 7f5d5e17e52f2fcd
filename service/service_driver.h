// zorv_service: start-up, the accept loop that hands each front end to a relay, and
// every way the service ends.
#pragma once

#include <string>
#include <string_view>

#include "service/service_texts.h"

namespace service {

/// Exit status when the wrapper pipe cannot be created; every other end gives
/// service_failure_status.
inline constexpr int wrapper_pipe_failure_status = 0;
inline constexpr int service_failure_status = -1;

struct relay_job;

enum class prepared { ready, failed, end_service };

/// Creates a pipe pair, announces it to the client on the wrapper pipe and starts its relay,
/// which waits for the client to open the pair and then for its front end (given with
/// hand_front_end). A pipe or relay that cannot be made is logged and gives failed, with
/// nothing of the pair left open; an announcement that cannot be written (the client has
/// gone) gives end_service.
prepared prepare_relay(relay_job*& out);

/// The pair announcement: request pipe name, "\n", response pipe name, "\n".
std::string pair_announcement(std::string_view request_pipe, std::string_view response_pipe);

/// Writes the current process id to the pid file in the work directory; false when it could
/// not be opened.
bool write_pid_file();

/// The whole zorv_service run; returns the exit status.
int zorv_service_main(int argc, char** argv);

}  // namespace service

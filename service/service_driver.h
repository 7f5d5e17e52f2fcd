// zorv_service: start-up, the accept loop that hands each front end to a relay, and
// every way the service ends.
#pragma once

#include <string>
#include <string_view>

#include "service/service_texts.h"

/// Exit status when the wrapper pipe cannot be created; every other end gives
/// service_failure_status.
inline constexpr int wrapper_pipe_failure_status = 0;
inline constexpr int service_failure_status = -1;

/// The pair announcement: request pipe name, "\n", response pipe name, "\n".
std::string pair_announcement(std::string_view request_pipe, std::string_view response_pipe);

/// Writes the current process id to the pid file in the work directory; false when it could
/// not be opened.
bool write_pid_file();

/// The whole zorv_service run; returns the exit status.
int zorv_service_main(int argc, char** argv);

// zorv_service: start-up, then the accept loop until something ends the service.
#pragma once

#include "service/accept_loop.h"
#include "service/service_texts.h"

namespace service {

/// Exit status when the wrapper pipe cannot be created; every other end gives
/// service_failure_status.
inline constexpr int wrapper_pipe_failure_status = 0;

/// Writes the current process id to the pid file in the work directory; false when it could
/// not be opened.
bool write_pid_file();

/// The whole zorv_service run; returns the exit status.
int zorv_service_main(int argc, char** argv);

}  // namespace service

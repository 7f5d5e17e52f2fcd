// zorv_service: start-up, the accept loop that hands each front end to a relay, and
// every way the service ends.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::string_view debug_argument = "-debug";

inline constexpr std::string_view work_dir_failure_text =
    "\" Could not set the temporary directory \"";
inline constexpr std::string_view wrapper_pipe_failure_text = "Error in creating ZORV pipes\n";
inline constexpr std::string_view pid_file_failure_text = "Error creating Lock File\n";
inline constexpr std::string_view launcher_pipe_failure_text =
    "Could not create launcher request pipe\n";
inline constexpr std::string_view no_client_folder_text =
    "Path of zorv path is not passed by argv, quitting...";
inline constexpr std::string_view launch_failure_text = "Failed to launch ZORV \n";
inline constexpr std::string_view request_pipe_failure_text =
    "Could not create ZORV_Request_pipe\n";
inline constexpr std::string_view response_pipe_failure_text =
    "Could not create ZORV_Response_pipe";
inline constexpr std::string_view out_of_memory_text = "Out of memory \n";
inline constexpr std::string_view relay_thread_failure_text =
    "Could not start a relay thread, request dropped";
/// Standard output of a service that finds the user's launcher request pipe served already;
/// the live service's log is not touched.
inline constexpr std::string_view already_running_text =
    "zorv_service is already running for this user; this one ends";
inline constexpr std::string_view watch_thread_failure_text = "Could not start watching ZORV";

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

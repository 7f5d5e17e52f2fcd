// The service's own texts: its log lines and the debug argument. They stand here, below the
// driver, the relay, the client launch and the client watch, so that none of those includes
// another only for a text. The prompt text, which the front end shows too, is the work
// directory module's.
#pragma once

#include <string_view>

namespace service {

inline constexpr std::string_view debug_argument = "-debug";

// Start-up and the accept loop. Some lines carry a line feed of their own, so the log shows
// an empty line after them.
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

// The relay.
inline constexpr std::string_view empty_response_text = "Got an empty response";
inline constexpr std::string_view request_cut_text =
    "The request was cut short by its sender, dropped";
inline constexpr std::string_view answer_cut_text = "The answer of ZORV was cut short, dropped";
inline constexpr std::string_view request_too_large_text =
    "The request is too large to forward, dropped";
inline constexpr std::string_view forward_failure_text =
    "Could not forward the request to ZORV, dropped";
inline constexpr std::string_view front_end_gone_text =
    "The front end went away before ZORV answered, request dropped";

inline constexpr std::string_view pair_timeout_text =
    "ZORV did not open the pipe pair in time, request dropped";
inline constexpr std::string_view pair_wait_failure_text =
    "Waiting for ZORV to open the pipe pair failed, request dropped";

// The client's launch and its end.
inline constexpr std::string_view could_not_create_client = "Could not create ZORV process";
inline constexpr std::string_view client_ended_before_connecting = "ZORV exited before connecting";
inline constexpr std::string_view client_connect_failed = "Waiting for ZORV to connect failed";
inline constexpr std::string_view debug_option_passed =
    "Debug option was passed, ZORV will not be launched";
inline constexpr std::string_view client_quit_text = "ZORV quit unexpectedly...exiting";

}  // namespace service

// The service's fixed texts, written out. The end-to-end tests check most of them in the log
// as the service writes them; the ones whose path no test can reach (memory running out, a
// response pipe that cannot be made, a thread that cannot be started) are checked only here.
#include "service/service_texts.h"

#include <gtest/gtest.h>

#include <string_view>

#include "common/work_dir.h"

namespace {

TEST(service_texts, stand_exactly_as_the_service_writes_them) {
    const struct {
        std::string_view text;
        std::string_view expected;
    } rows[] = {
        {service::debug_argument, "-debug"},
        {common::work_dir_failure_text, "\" Could not set the temporary directory \""},
        {service::wrapper_pipe_failure_text, "Error in creating ZORV pipes\n"},
        {service::pid_file_failure_text, "Error creating Lock File\n"},
        {service::launcher_pipe_failure_text, "Could not create launcher request pipe\n"},
        {service::no_client_folder_text, "Path of zorv path is not passed by argv, quitting..."},
        {service::launch_failure_text, "Failed to launch ZORV \n"},
        {service::request_pipe_failure_text, "Could not create ZORV_Request_pipe\n"},
        {service::response_pipe_failure_text, "Could not create ZORV_Response_pipe"},
        {service::out_of_memory_text, "Out of memory \n"},
        {service::relay_thread_failure_text, "Could not start a relay thread, request dropped"},
        {service::watch_thread_failure_text, "Could not start watching ZORV"},
        {service::empty_response_text, "Got an empty response"},
        {service::request_cut_text, "The request was cut short by its sender, dropped"},
        {service::answer_cut_text, "The answer of ZORV was cut short, dropped"},
        {service::request_too_large_text, "The request is too large to forward, dropped"},
        {service::forward_failure_text, "Could not forward the request to ZORV, dropped"},
        {service::pair_timeout_text, "ZORV did not open the pipe pair in time, request dropped"},
        {service::pair_wait_failure_text,
         "Waiting for ZORV to open the pipe pair failed, request dropped"},
        {service::could_not_create_client, "Could not create ZORV process"},
        {service::client_ended_before_connecting, "ZORV exited before connecting"},
        {service::client_connect_failed, "Waiting for ZORV to connect failed"},
        {service::debug_option_passed, "Debug option was passed, ZORV will not be launched"},
        {service::client_quit_text, "ZORV quit unexpectedly...exiting"},
        {service::already_running_text,
         "zorv_service is already running for this user; this one ends"},
    };
    for (const auto& r : rows) EXPECT_EQ(r.text, r.expected);
}

}  // namespace

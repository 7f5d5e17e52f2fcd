// One exchange with the running service on the user's launcher request pipe, as a front end
// makes it, but with the whole reply kept.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace test_support {

/// The launcher request pipe of the current user.
std::string launcher_pipe_name();

/// Writes request as one message and reads the whole reply. Waits up to patience for a
/// free instance of the pipe, and tries again while every instance is busy. Nothing when no
/// instance came in time, or the service dropped the connection or cut the reply short.
std::optional<std::string> exchange(const std::string& request,
                                    std::chrono::milliseconds patience = std::chrono::seconds(20));

}  // namespace test_support

// What the service is told when it starts: its command line and the environment it reads,
// read once, before anything else, and passed on from there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace service {

/// How long a relay waits for the client to open its pipe pair, unless a test says other.
inline constexpr std::uint32_t default_pair_timeout_ms = 30000;

struct service_config {
    /// The folder that holds the client's program: the first argument, as it came. None
    /// when the service was started without arguments, which ends it at the first front end.
    std::optional<std::string> client_folder;
    /// The second argument is exactly "-debug": the client is not started; the wrapper
    /// pipe's name is printed for a client started by hand.
    bool debug_mode = false;
    /// How long a relay waits for the client to open its pipe pair.
    std::uint32_t pair_timeout_ms = default_pair_timeout_ms;
};

/// Reads the command line (argv[0] is the program; any argument after the second is
/// ignored) and pair_timeout, the value of pair_timeout_env (null when it is not set).
service_config parse_service_config(int argc, const char* const* argv, const char* pair_timeout);

}  // namespace service

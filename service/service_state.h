// The service's process-wide state, set during start-up before any relay thread exists and
// only read afterwards; only the count of relays in flight changes later, atomically.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/pipe.h"

/// How long a relay waits for the client to open its pipe pair, unless a test says other.
inline constexpr std::uint32_t default_pair_timeout_ms = 30000;

struct service_state {
    bool debug_mode = false;
    std::string login;
    std::string wrapper_pipe_name;
    /// How long a relay waits for the client to open its pipe pair.
    std::uint32_t pair_timeout_ms = default_pair_timeout_ms;
    platform::pipe wrapper_pipe;
    /// Relays whose client has connected their pair and that have not finished yet.
    std::atomic<int> relays_in_flight{0};
};

service_state& the_service();

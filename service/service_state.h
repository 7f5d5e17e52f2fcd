// The service's process-wide state, set during start-up before any relay thread exists and
// only read afterwards; only the count of relays in flight changes later, under its own lock.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/pipe.h"
#include "service/service_config.h"

namespace service {

/// Relays whose client has connected their pair and that have not finished yet; the client
/// watch waits on it for the last one to finish.
class relay_counter {
  public:
    void started();
    void finished();
    /// Waits until no relay is in flight or limit has passed; true when none is.
    bool wait_until_none(std::chrono::milliseconds limit);

  private:
    std::mutex mutex_;
    std::condition_variable none_left_;
    int count_ = 0;
};

struct service_state {
    std::string wrapper_pipe_name;
    /// How long a relay waits for the client to open its pipe pair.
    std::uint32_t pair_timeout_ms = default_pair_timeout_ms;
    platform::pipe wrapper_pipe;
    relay_counter relays_in_flight;
};

service_state& the_service();

}  // namespace service

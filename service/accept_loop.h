// The accept loop: takes each front end from the launcher request pipe and hands it to a
// relay over a pipe pair announced to the client, until something ends the service.
#pragma once

#include <string>
#include <string_view>

#include "service/listener.h"
#include "service/relay.h"
#include "service/service_config.h"

namespace service {

/// Exit status of every end of the service but one (see wrapper_pipe_failure_status).
inline constexpr int service_failure_status = -1;

enum class prepared { ready, failed, end_service };

/// Creates a pipe pair, announces it to the client on the wrapper pipe and starts its relay,
/// which waits for the client to open the pair and then for its front end (given with
/// listener::hand_front_end). A pipe or relay that cannot be made is logged and gives
/// failed, with nothing of the pair left open; an announcement that cannot be written (the
/// client has gone) gives end_service, as does a relay job that cannot be allocated.
prepared prepare_relay(listener& io, relay_job*& out);

/// The pair announcement: request pipe name, "\n", response pipe name, "\n".
std::string pair_announcement(std::string_view request_pipe, std::string_view response_pipe);

/// Serves front ends until the service must end; returns its exit status. The client is
/// launched at the first front end, from config's client folder.
int accept_loop(const service_config& config, listener& io);

}  // namespace service

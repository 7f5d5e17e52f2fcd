// Ending the service when its installation changes under it (a package upgrade or removal,
// `cmake --install` over a running tree) or when it is asked to stop (SIGTERM): it stops
// taking front ends at once, so that the next one starts the installed service, answers
// the requests in flight and ends, and its client ends with it.
#pragma once

#include <string>
#include <string_view>

namespace service {

/// Log line of a service whose program or client program was replaced or removed.
inline constexpr std::string_view replaced_text =
    "was replaced or removed; ending once the requests in flight are answered";
/// Log line of a service asked to stop.
inline constexpr std::string_view stop_text =
    "was asked to stop; ending once the requests in flight are answered";

inline constexpr std::string_view retire_watch_failure_text =
    "Could not start watching the installation; an upgrade will not end this service";

/// Called by the accept loop right before it waits for a front end (true) and right after
/// (false), so that the service never ends while the loop holds a front end that no relay
/// has counted yet.
void note_accept_wait(bool waiting);

/// Starts the thread that watches the service's own program and, when client_folder is not
/// empty, the client's program in it. False when the thread could not be started.
[[nodiscard]] bool start_retire_watch(const std::string& client_folder);

}  // namespace service

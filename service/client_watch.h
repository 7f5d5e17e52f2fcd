// Ending the service as soon as the graphical client goes away.
#pragma once

#include <string_view>

inline constexpr std::string_view client_quit_text = "ZORV quit unexpectedly...exiting";

/// Starts a detached thread that waits until the client has closed the wrapper pipe (or
/// its process has ended), then logs client_quit_text and ends the process with -1. False
/// when the thread could not be started.
[[nodiscard]] bool start_client_watch();

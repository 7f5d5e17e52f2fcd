// Ending the service as soon as the graphical client goes away.
#pragma once

#include "service/service_texts.h"

namespace service {

/// True for the first caller only, which logs client_quit_text: the client's end is logged
/// once however many threads find it.
[[nodiscard]] bool first_to_find_client_gone();

/// Waits, up to a few seconds, until the relays that reached the client have finished: a
/// client that answered and then quit has its answer passed on before the service ends.
void wait_for_relays_in_flight();

/// Starts a detached thread that waits until the client has closed the wrapper pipe (or
/// its process has ended), then logs client_quit_text, lets the relays in flight finish
/// and ends the process with -1. False
/// when the thread could not be started.
[[nodiscard]] bool start_client_watch();

}  // namespace service

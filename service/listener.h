// What the accept loop reaches outside itself: the instances of the launcher request pipe,
// the client, the relays' pipes and threads, the log and the clock. The running service
// gives it pipe_listener; tests give it a fake that scripts every outcome.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "platform/pipe.h"
#include "service/relay.h"

namespace service {

class listener {
  public:
    virtual ~listener() = default;

    // The launcher request pipe. One instance listens; the next one is created while a
    // front end is on the current one, and takes over once that front end is handed on.

    /// Blocks until a front end connects to the listening instance.
    virtual platform::connect_status wait_for_front_end() = 0;
    /// Creates the instance that listens next; none when it was created.
    virtual platform::create_error create_next_instance() = 0;
    /// Disconnects and closes the listening instance, so that its front end's read fails.
    virtual void drop_front_end() = 0;
    /// Gives the listening instance, with its front end, to a relay started ahead.
    virtual void hand_front_end(relay_job& relay) = 0;
    /// The instance created last becomes the listening one.
    virtual void listen_on_next() = 0;

    // The client.

    /// Starts the client in client_folder and waits until it has connected to the wrapper
    /// pipe; false, after a log line of its own, when it could not.
    virtual bool launch_client(const std::string& client_folder) = 0;
    /// Starts watching for the client's end; false when the watch could not be started.
    virtual bool start_client_watch() = 0;
    /// Writes a pair announcement to the wrapper pipe; false when the client has gone.
    virtual bool announce(std::string_view announcement) = 0;
    /// True for the first to find the client gone, the accept loop or the client watch,
    /// which then logs it: the end is logged once.
    virtual bool first_to_find_client_gone() = 0;
    /// Waits, up to a few seconds, until the relays that reached the client have finished.
    virtual void wait_for_relays_in_flight() = 0;

    // The relays.

    /// A fresh name for one pipe of a pair.
    virtual std::string new_pair_pipe_name() = 0;
    /// Create relay's request pipe (the service writes) or response pipe (the service
    /// reads) under name; false when it could not be created.
    virtual bool create_request_pipe(relay_job& relay, std::string_view name) = 0;
    virtual bool create_response_pipe(relay_job& relay, std::string_view name) = 0;
    /// Starts relay_thread on job, which owns it from then on; the job, for handing it its
    /// front end, or null, with the job freed, when no thread could be started.
    virtual relay_job* start_relay(std::unique_ptr<relay_job> job) = 0;

    virtual void log(std::string_view line) = 0;
    virtual void pause(std::chrono::milliseconds how_long) = 0;
};

}  // namespace service

// The accept loop's world in the running service: instances of the launcher request pipe,
// the client launched and watched through the wrapper pipe, relays on threads of their own.
#pragma once

#include <string>
#include <string_view>

#include "platform/pipe.h"
#include "service/listener.h"

namespace service {

/// A server pipe of the service: message type, 4096-byte buffers, owner-only. A pipe that
/// only the client learns the name of needs no file (in_file_system false).
platform::pipe create_service_pipe(std::string_view name, platform::pipe_access access,
                                   int instances, bool in_file_system = true,
                                   platform::create_error* error = nullptr);

/// An instance of login's launcher request pipe.
platform::pipe create_launcher_instance(std::string_view login,
                                        platform::create_error* error = nullptr);

class pipe_listener final : public listener {
  public:
    /// listening: the first instance, created at start-up.
    pipe_listener(std::string login, bool debug_mode, platform::pipe listening);

    platform::connect_status wait_for_front_end() override;
    platform::create_error create_next_instance() override;
    void drop_front_end() override;
    void hand_front_end(relay_job& relay) override;
    void listen_on_next() override;

    bool launch_client(const std::string& client_folder) override;
    bool start_client_watch() override;
    bool announce(std::string_view announcement) override;
    bool first_to_find_client_gone() override;
    void wait_for_relays_in_flight() override;

    std::string new_pair_pipe_name() override;
    bool create_request_pipe(relay_job& relay, std::string_view name) override;
    bool create_response_pipe(relay_job& relay, std::string_view name) override;
    relay_job* start_relay(std::unique_ptr<relay_job> job) override;

    void log(std::string_view line) override;
    void pause(std::chrono::milliseconds how_long) override;

  private:
    std::string login_;
    bool debug_mode_;
    platform::pipe listening_;
    platform::pipe next_;
};

}  // namespace service

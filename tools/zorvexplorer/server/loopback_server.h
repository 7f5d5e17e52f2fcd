// A small HTTP server on 127.0.0.1 for one page. Its port can be seen by every local user,
// so a connection must show the page's secret path in its first line at once, and no user
// may hold more than a few connections: others' connections never keep the page from its
// server.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "platform/loopback_socket.h"
#include "tools/zorvexplorer/server/http_request.h"

namespace zorv {

struct loopback_server_limits {
    /// A connection's first request line must have come within this; it is closed then.
    std::chrono::milliseconds first_line{2000};
    /// Each later read or write may wait this long for the peer.
    std::chrono::milliseconds idle{10000};
    /// Connections one user may hold open at once; more are closed as they come.
    std::size_t per_user = 16;
    std::size_t largest_body = 64u << 20;
    /// How long the accept loop waits for a connection before it comes round again.
    std::chrono::milliseconds turn{100};
};

using http_handler = std::function<http_response(const http_request&)>;

class loopback_server {
  public:
    using clock = std::chrono::steady_clock;

    /// Answers with handler (called on several threads at once) every request whose first
    /// line carries prefix ("/<token>/"); a first line without it is answered 403 and the
    /// connection closed. turned, when set, is called with the time each time the accept
    /// loop comes round, at least every limits.turn while the process runs.
    loopback_server(std::string prefix, http_handler handler,
                    std::function<void(clock::time_point)> turned,
                    loopback_server_limits limits = {});
    ~loopback_server();
    loopback_server(const loopback_server&) = delete;
    loopback_server& operator=(const loopback_server&) = delete;

    /// Listens on 127.0.0.1 at a port the system chooses; false when it cannot.
    [[nodiscard]] bool listen();
    [[nodiscard]] int port() const { return port_; }
    /// Starts accepting connections, once listening.
    void start();

    /// Stops accepting, ends the open connections and waits until none is served.
    void stop();

  private:
    struct connection {
        platform::tcp_socket socket;
        std::string user;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void accept_loop();
    void serve(connection& c) const;
    void answer(connection& c, const http_response& response) const;
    // Joins the connections that ended (all of them, after ending them, when everything).
    void reap(bool everything);

    const std::string prefix_;
    const http_handler handler_;
    const std::function<void(clock::time_point)> turned_;
    const loopback_server_limits limits_;
    platform::tcp_socket listener_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread accepting_;
    // Touched by the accept loop only, and by stop() once that loop has ended.
    std::list<std::unique_ptr<connection>> connections_;
};

}  // namespace zorv

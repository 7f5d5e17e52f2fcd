#include "tools/zorvexplorer/server/loopback_server.h"

#include <algorithm>
#include <exception>
#include <system_error>

namespace zorv {

namespace {

using std::chrono::milliseconds;

// Where the body starts: behind the blank line that ends the head; npos before it came.
std::size_t body_start(const std::string& in) {
    const std::size_t crlf = in.find("\r\n\r\n");
    const std::size_t lf = in.find("\n\n");
    if (crlf == std::string::npos && lf == std::string::npos) return std::string::npos;
    return crlf < lf ? crlf + 4 : lf + 2;
}

milliseconds left_until(loopback_server::clock::time_point deadline) {
    return std::chrono::duration_cast<milliseconds>(deadline - loopback_server::clock::now());
}

// Reads more into in, waiting up to wait; false when nothing more will come in time.
bool read_more(const platform::tcp_socket& s, std::string& in, milliseconds wait) {
    if (wait.count() <= 0) return false;
    char buffer[16 * 1024];
    const platform::read_result r = platform::read_some(s, buffer, sizeof buffer, wait);
    if (r.status != platform::io_status::done) return false;
    in.append(buffer, r.bytes);
    return true;
}

// Takes what the peer has sent already, so that closing does not reset the connection
// under an answer it has not read yet.
void drain(const platform::tcp_socket& s) {
    char buffer[16 * 1024];
    for (int i = 0; i < 4; ++i) {
        if (platform::read_some(s, buffer, sizeof buffer, milliseconds(0)).status !=
            platform::io_status::done)
            return;
    }
}

}  // namespace

loopback_server::loopback_server(std::string prefix, http_handler handler,
                                 std::function<void(clock::time_point)> turned,
                                 loopback_server_limits limits)
    : prefix_(std::move(prefix)),
      handler_(std::move(handler)),
      turned_(std::move(turned)),
      limits_(limits) {}

loopback_server::~loopback_server() { stop(); }

bool loopback_server::listen() {
    platform::loopback_listener l = platform::listen_on_loopback();
    if (l.port == 0) return false;
    listener_ = std::move(l.socket);
    port_ = l.port;
    return true;
}

void loopback_server::start() {
    if (listener_.valid() && !accepting_.joinable())
        accepting_ = std::thread([this] { accept_loop(); });
}

void loopback_server::stop() {
    stopping_ = true;
    if (accepting_.joinable()) accepting_.join();
    reap(true);
}

void loopback_server::reap(bool everything) {
    for (const auto& c : connections_) {
        if (everything) c->socket.shut_down();
    }
    for (auto it = connections_.begin(); it != connections_.end();) {
        connection& c = **it;
        if (!everything && !c.done) {
            ++it;
            continue;
        }
        if (c.thread.joinable()) c.thread.join();
        it = connections_.erase(it);
    }
}

void loopback_server::accept_loop() {
    while (!stopping_) {
        if (turned_) turned_(clock::now());
        reap(false);
        platform::tcp_socket s = platform::accept_connection(listener_, limits_.turn);
        if (!s.valid()) continue;
        std::string user = platform::connection_peer_user(s);
        const auto open =
            static_cast<std::size_t>(std::count_if(connections_.begin(), connections_.end(),
                                                   [&](const auto& c) { return c->user == user; }));
        if (open >= limits_.per_user) {
            // Another of this user's connections is one too many: closed as it came.
            drain(s);
            continue;
        }
        auto c = std::make_unique<connection>();
        c->socket = std::move(s);
        c->user = std::move(user);
        connection& ref = *c;
        try {
            ref.thread = std::thread([this, &ref] {
                serve(ref);
                ref.done = true;
            });
        } catch (const std::system_error&) {
            continue;  // no thread to be had: the connection is dropped
        }
        connections_.push_back(std::move(c));
    }
}

void loopback_server::answer(connection& c, const http_response& response) const {
    (void)platform::write_all(c.socket, serialize_response(response), limits_.idle);
    drain(c.socket);
    c.socket.shut_down();
}

void loopback_server::serve(connection& c) const {
    std::string in;
    // The first line, by a deadline from the connection's start: a connection that says
    // nothing, or trickles, goes soon.
    const auto first_deadline = clock::now() + limits_.first_line;
    std::size_t line_end;
    while ((line_end = in.find('\n')) == std::string::npos) {
        if (in.size() > largest_request_line ||
            !read_more(c.socket, in, left_until(first_deadline)))
            return c.socket.shut_down();
    }
    std::string_view line(in.data(), line_end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (!line_carries_prefix(line, prefix_))
        return answer(c, {403, "text/plain; charset=utf-8", "Forbidden\n", {}});

    std::size_t start;
    while ((start = body_start(in)) == std::string::npos) {
        if (in.size() > largest_request_head)
            return answer(c,
                          {431, "text/plain; charset=utf-8", "The request head is too long\n", {}});
        if (!read_more(c.socket, in, limits_.idle)) return c.socket.shut_down();
    }
    std::string error;
    std::optional<http_request> request =
        parse_request_head(std::string_view(in).substr(0, start), error);
    if (!request) return answer(c, {400, "text/plain; charset=utf-8", error + "\n", {}});
    const std::optional<std::size_t> length = announced_body_length(*request);
    if (!length)
        return answer(c, {400, "text/plain; charset=utf-8", "No usable body length\n", {}});
    if (*length > limits_.largest_body)
        return answer(c, {413, "text/plain; charset=utf-8", "The request is too large\n", {}});
    in.reserve(start + *length);
    while (in.size() < start + *length) {
        if (!read_more(c.socket, in, limits_.idle)) return c.socket.shut_down();
    }
    request->body = in.substr(start, *length);
    std::string().swap(in);
    http_response response;
    try {
        response = handler_(*request);
    } catch (const std::exception& e) {
        response = {500, "text/plain; charset=utf-8", std::string(e.what()) + "\n", {}};
    }
    answer(c, response);
}

}  // namespace zorv

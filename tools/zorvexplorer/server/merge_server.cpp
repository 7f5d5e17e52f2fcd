#include "tools/zorvexplorer/server/merge_server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

#include "tools/zorvexplorer/merge/merge_resolution.h"
#include "tools/zorvexplorer/pages/merge_page.h"

namespace zorv {

namespace {

using clock = std::chrono::steady_clock;

constexpr const char* loopback = "127.0.0.1";
constexpr std::size_t largest_request = 64u << 20;
// Nothing outside the page itself: no network, no frames; the alive reports run in a
// worker made from a blob.
constexpr const char* page_policy =
    "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; "
    "connect-src 'self'; worker-src blob:; frame-ancestors 'none'; base-uri 'none'; "
    "form-action 'none'";

// The same answer whatever the difference, in the same time.
bool same_secret(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

class session_state {
  public:
    void seen() {
        std::lock_guard lock(mutex_);
        last_seen_ = clock::now();
        // The first report shortens the wait from the first-fetch limit to the heartbeat's.
        if (!seen_) changed_.notify_all();
        seen_ = true;
    }
    // Ends the session once; false when it had ended already.
    bool end(merge_session_end how, std::string detail) {
        std::lock_guard lock(mutex_);
        if (end_) return false;
        end_ = how;
        detail_ = std::move(detail);
        changed_.notify_all();
        return true;
    }
    bool ended() {
        std::lock_guard lock(mutex_);
        return end_.has_value();
    }
    std::mutex& save_mutex() { return save_mutex_; }

    merge_session_result wait(const merge_session_options& options) {
        std::unique_lock lock(mutex_);
        while (!end_) {
            const auto limit = seen_ ? options.heartbeat_limit : options.first_fetch_limit;
            const auto deadline = last_seen_ + limit;
            if (clock::now() < deadline) {
                changed_.wait_until(lock, deadline);
                continue;
            }
            // Not while a save is writing: its outcome decides.
            lock.unlock();
            std::lock_guard saving(save_mutex_);
            lock.lock();
            if (!end_ && clock::now() >= last_seen_ + limit) {
                end_ = merge_session_end::closed;
                detail_ = seen_ ? "the merge page stopped reporting"
                                : "the browser never fetched the merge page";
            }
        }
        return {*end_, detail_};
    }

  private:
    std::mutex mutex_;
    std::mutex save_mutex_;  // one save at a time
    std::condition_variable changed_;
    clock::time_point last_seen_ = clock::now();
    bool seen_ = false;
    std::optional<merge_session_end> end_;
    std::string detail_;
};

// The resolutions a save request carries: c<k> names the choice of conflict k, e<k> holds
// its edited text.
std::optional<std::vector<conflict_resolution>> resolutions_of(const httplib::Request& req,
                                                               std::size_t conflicts,
                                                               std::string& error) {
    httplib::Params params;
    httplib::detail::parse_query_text(req.body, params);
    std::vector<conflict_resolution> out;
    for (std::size_t k = 0; k < conflicts; ++k) {
        const std::string key = "c" + std::to_string(k);
        const auto it = params.find(key);
        const std::optional<conflict_choice> choice =
            it == params.end() ? std::nullopt : choice_named(it->second);
        if (!choice) {
            error = "conflict " + std::to_string(k + 1) + " is not resolved";
            return std::nullopt;
        }
        conflict_resolution r{*choice, {}};
        if (*choice == conflict_choice::edited) {
            const auto e = params.find("e" + std::to_string(k));
            if (e != params.end()) r.text = e->second;
        }
        out.push_back(std::move(r));
    }
    return out;
}

}  // namespace

std::string new_session_token() {
    std::random_device random;  // the system's random source
    static constexpr char hex[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 4; ++i) {
        std::uint32_t v = random();
        for (int d = 0; d < 8; ++d, v >>= 4) token += hex[v & 15];
    }
    return token;
}

merge_session_result run_merge_session(const merge_result& merged, const std::string& output_name,
                                       const std::function<std::string(const std::string&)>& save,
                                       const merge_session_options& options) {
    const auto log = [&](const std::string& line) {
        if (options.log) options.log(line);
    };
    const std::string token = new_session_token();
    const std::string prefix = "/" + token + "/";
    const auto heartbeat_every =
        std::clamp(options.heartbeat_limit / 4, std::chrono::milliseconds(100),
                   std::chrono::milliseconds(5000));
    const std::string page = render_merge_page(merged, output_name, heartbeat_every);
    session_state state;

    httplib::Server server;
    server.set_payload_max_length(largest_request);
    // One request a connection: no idle connection holds up the end of the session.
    server.set_keep_alive_max_count(1);
    const int port = server.bind_to_any_port(loopback);
    if (port <= 0)
        return {merge_session_end::not_served, "cannot listen on the loopback interface"};
    const std::string host = std::string(loopback) + ":" + std::to_string(port);

    server.set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
        // A page of another site may send requests here; without the token it learns
        // nothing, and a name that resolves to us (DNS rebinding) shows in Host.
        const bool ok = same_secret(req.get_header_value("Host"), host) &&
                        req.path.size() >= prefix.size() &&
                        same_secret(std::string_view(req.path).substr(0, prefix.size()), prefix);
        if (ok) return httplib::Server::HandlerResponse::Unhandled;
        res.status = 403;
        res.set_content("Forbidden\n", "text/plain");
        return httplib::Server::HandlerResponse::Handled;
    });
    server.Get(prefix, [&](const httplib::Request&, httplib::Response& res) {
        state.seen();
        res.set_header("Content-Security-Policy", page_policy);
        res.set_header("Cache-Control", "no-store");
        res.set_header("Referrer-Policy", "no-referrer");
        res.set_content(page, "text/html; charset=utf-8");
    });
    server.Post(prefix + "alive", [&](const httplib::Request&, httplib::Response& res) {
        state.seen();
        res.status = 204;
    });
    server.Post(prefix + "cancel", [&](const httplib::Request&, httplib::Response& res) {
        std::lock_guard lock(state.save_mutex());
        if (!state.end(merge_session_end::cancelled, "cancelled on the merge page")) {
            res.status = 409;
            res.set_content("this merge has ended already", "text/plain; charset=utf-8");
            return;
        }
        res.set_content(output_name + " was left as it was.", "text/plain; charset=utf-8");
    });
    server.Post(prefix + "save", [&](const httplib::Request& req, httplib::Response& res) {
        state.seen();
        std::string error;
        const auto resolutions = resolutions_of(req, merged.conflicts, error);
        resolved_merge resolved;
        if (resolutions) resolved = resolve_merge(merged, *resolutions);
        if (!resolutions || !resolved.error.empty()) {
            res.status = 400;
            res.set_content(resolutions ? resolved.error : error, "text/plain; charset=utf-8");
            return;
        }
        std::lock_guard lock(state.save_mutex());
        if (state.ended()) {
            res.status = 409;
            res.set_content("this merge has ended already", "text/plain; charset=utf-8");
            return;
        }
        if (std::string failure = save(resolved.text); !failure.empty()) {
            res.status = 500;
            res.set_content(failure, "text/plain; charset=utf-8");
            return;
        }
        state.end(merge_session_end::saved, "saved from the merge page");
        res.set_content("Saved " + output_name + ". You can close this page.",
                        "text/plain; charset=utf-8");
    });

    std::atomic<bool> listening_ended{false};
    std::thread serving([&] {
        server.listen_after_bind();
        listening_ended = true;
    });
    const std::string url = "http://" + host + prefix;
    log("merge page for " + output_name + " served on " + host);
    merge_session_result result;
    if (options.open_page && options.open_page(url)) {
        // Nobody waits for an answer once the front end has gone: end now, writing nothing.
        std::optional<merge_cancel::listening> front_end_gone;
        if (options.cancel != nullptr) {
            front_end_gone.emplace(*options.cancel, [&state] {
                std::lock_guard saving(state.save_mutex());  // a save under way decides
                state.end(merge_session_end::cancelled, std::string(front_end_gone_detail));
            });
        }
        result = state.wait(options);
    } else {
        result = {merge_session_end::not_served, "no browser could be started"};
    }
    // stop() does nothing before the loop runs: repeat it until the loop has ended.
    while (!listening_ended) {
        server.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    serving.join();
    return result;
}

}  // namespace zorv

#include "tools/zorvexplorer/server/merge_server.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <random>

#include "tools/zorvexplorer/merge/merge_resolution.h"
#include "tools/zorvexplorer/pages/merge_page.h"
#include "tools/zorvexplorer/pages/page_assets.h"
#include "tools/zorvexplorer/server/loopback_server.h"

namespace zorv {

namespace {

using clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::string_view loopback = "127.0.0.1";
// A gap this long between two rounds of the accept loop (which comes round every tenth of
// a second) means the server was held up; the page may well have reported meanwhile.
constexpr milliseconds stall_allowance{1000};
// Nothing outside the page and its script: no network, no frames; the alive reports run
// in a worker made from a blob; the editor adds its style sheets at run time.
constexpr const char* page_policy =
    "default-src 'none'; style-src 'unsafe-inline'; script-src 'self'; connect-src 'self'; "
    "worker-src blob:; frame-ancestors 'none'; base-uri 'none'; form-action 'none'";
constexpr const char* plain_text = "text/plain; charset=utf-8";

// The same answer whatever the difference, in the same time.
bool same_secret(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

class session_state {
  public:
    // The page's script reported: the page is open, and heard from now.
    void reported() {
        std::lock_guard lock(mutex_);
        last_report_ = clock::now();
        // The first report shortens the wait from the opening limit to the heartbeat's.
        if (!opened_) changed_.notify_all();
        opened_ = true;
    }
    // The server's accept loop came round at now. After a long gap the server was held up,
    // and the page's silence counts from the end of that gap.
    void server_turned(clock::time_point now) {
        std::lock_guard lock(mutex_);
        const auto gap = now - last_turn_;
        if (gap > stall_allowance) last_report_ = std::min(now, last_report_ + gap);
        last_turn_ = now;
    }
    // Ends the session once; false when it had ended already. Every end is taken here:
    // the page's Save and Cancel, its silence, and an end from outside the page.
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
            if (!silent_too_long(options)) {
                changed_.wait_until(lock, last_report_ + limit(options));
                continue;
            }
            if (clock::now() - last_turn_ > stall_allowance) {
                // The server has not come round for a while: let it take what has arrived.
                changed_.wait_for(lock, stall_allowance / 10);
                continue;
            }
            // Not while a save is writing: its outcome decides.
            lock.unlock();
            std::lock_guard saving(save_mutex_);
            lock.lock();
            if (!end_ && silent_too_long(options) && clock::now() - last_turn_ <= stall_allowance) {
                end_ = merge_session_end::closed;
                detail_ = opened_ ? "the merge page stopped reporting"
                                  : "the merge page was never opened";
            }
        }
        return {*end_, detail_};
    }

  private:
    milliseconds limit(const merge_session_options& options) const {
        return opened_ ? options.heartbeat_limit : options.open_limit;
    }
    bool silent_too_long(const merge_session_options& options) const {
        return clock::now() >= last_report_ + limit(options);
    }

    std::mutex mutex_;
    std::mutex save_mutex_;  // one save at a time
    std::condition_variable changed_;
    clock::time_point last_report_ = clock::now();
    clock::time_point last_turn_ = clock::now();
    bool opened_ = false;
    std::optional<merge_session_end> end_;
    std::string detail_;
};

struct save_request {
    std::vector<conflict_resolution> resolutions;
    typed_stretches typed;
};

// What a save carries: c<k> names the choice of conflict k and e<k> holds its edited text;
// m<j> holds the typed text of the j-th stretch without a conflict, when it was changed.
std::optional<save_request> save_request_of(const http_request& req, std::size_t conflicts,
                                            std::string& error) {
    std::map<std::string, std::string> fields;
    for (auto& [name, value] : form_fields(req.body)) fields.emplace(name, std::move(value));
    save_request out;
    for (std::size_t k = 0; k < conflicts; ++k) {
        const auto it = fields.find("c" + std::to_string(k));
        const std::optional<conflict_choice> choice =
            it == fields.end() ? std::nullopt : choice_named(it->second);
        if (!choice) {
            error = "conflict " + std::to_string(k + 1) + " is not resolved";
            return std::nullopt;
        }
        conflict_resolution r{*choice, {}};
        if (*choice == conflict_choice::edited) {
            const auto e = fields.find("e" + std::to_string(k));
            if (e != fields.end()) r.text = e->second;
        }
        out.resolutions.push_back(std::move(r));
    }
    for (const auto& [name, value] : fields) {
        if (name.size() < 2 || name[0] != 'm') continue;
        const std::size_t j = std::strtoul(name.c_str() + 1, nullptr, 10);
        if (name != "m" + std::to_string(j)) continue;
        out.typed[j] = value;
    }
    return out;
}

http_response text_response(int status, std::string text) {
    return {status, plain_text, std::move(text), {}};
}

// A page or script, compressed when the browser takes it that way.
http_response content(const http_request& req, std::string_view type, std::string_view plain,
                      const std::string& packed) {
    http_response res{200,
                      std::string(type),
                      {},
                      {{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}}};
    if (!packed.empty() && accepts_coding(req.header("accept-encoding"), "deflate")) {
        res.body = packed;
        res.headers.emplace_back("Content-Encoding", "deflate");
    } else {
        res.body = plain;
    }
    return res;
}

// The scripts are the same for every page: compressed once.
const std::string& packed_script() {
    static const std::string packed = deflated(assets::merge_page_js);
    return packed;
}
const std::string& packed_syntax_script() {
    static const std::string packed = deflated(assets::syntax_js);
    return packed;
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
    const std::string prefix = "/" + new_session_token() + "/";
    const auto heartbeat_every =
        std::clamp(options.heartbeat_limit / 4, milliseconds(100), milliseconds(5000));
    const std::string page = render_merge_page(merged, output_name, heartbeat_every);
    const bool coloured = !merge_page_language(merged, output_name).empty();
    const std::string packed_page = deflated(page);
    session_state state;
    std::string host;  // set before the server accepts anything

    const auto handle = [&](const http_request& req) -> http_response {
        // A page of another site may send requests here; without the token it learns
        // nothing, and a name that resolves to us (DNS rebinding) shows in Host.
        if (!same_secret(req.header("host"), host)) return text_response(403, "Forbidden\n");
        const std::string_view what = std::string_view(req.target).substr(prefix.size());
        if (req.method == "GET" && what.empty()) {
            http_response res = content(req, "text/html; charset=utf-8", page, packed_page);
            res.headers.emplace_back("Content-Security-Policy", page_policy);
            res.headers.emplace_back("Referrer-Policy", "no-referrer");
            return res;
        }
        if (req.method == "GET" && what == merge_page_script)
            return content(req, "text/javascript; charset=utf-8", assets::merge_page_js,
                           packed_script());
        if (req.method == "GET" && coloured && what == merge_syntax_script)
            return content(req, "text/javascript; charset=utf-8", assets::syntax_js,
                           packed_syntax_script());
        if (req.method != "POST") return text_response(404, "Not found\n");
        if (what == "alive") {
            state.reported();
            return {204, {}, {}, {}};
        }
        if (what == "cancel") {
            std::lock_guard lock(state.save_mutex());
            if (!state.end(merge_session_end::cancelled, "cancelled on the merge page"))
                return text_response(409, "this merge has ended already");
            return text_response(200, output_name + " was left as it was.");
        }
        if (what != "save") return text_response(404, "Not found\n");
        state.reported();
        std::string error;
        const std::optional<save_request> request = save_request_of(req, merged.conflicts, error);
        resolved_merge resolved;
        if (request) resolved = resolve_merge(merged, request->resolutions, request->typed);
        if (!request || !resolved.error.empty())
            return text_response(400, request ? resolved.error : error);
        std::lock_guard lock(state.save_mutex());
        if (state.ended()) return text_response(409, "this merge has ended already");
        if (std::string failure = save(resolved.text); !failure.empty())
            return text_response(500, failure);
        state.end(merge_session_end::saved, "saved from the merge page");
        return text_response(200, "Saved " + output_name + ". You can close this page.");
    };

    loopback_server server(prefix, handle,
                           [&](clock::time_point now) { state.server_turned(now); });
    if (!server.listen())
        return {merge_session_end::not_served, "cannot listen on the loopback interface"};
    host = std::string(loopback) + ":" + std::to_string(server.port());
    server.start();
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
        result = {merge_session_end::not_served, "the merge page could not be offered"};
    }
    server.stop();
    return result;
}

}  // namespace zorv

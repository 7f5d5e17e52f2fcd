#include "tools/zorvexplorer/transport/pipe_client.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>

#include "platform/thread.h"
#include "tools/zorvexplorer/transport/http_frame.h"

namespace zorv {

namespace {

constexpr std::size_t read_chunk = 4096;

// How long a pair's watch waits at a time before it looks whether the answer is there: the
// service usually ends the pair right after the answer, so this bounds only the rare rest.
constexpr std::uint32_t pair_watch_round_ms = 200;

struct pair_job {
    pipe_pair_names names;
    const pair_handler* handler;
};

void pair_thread(void* raw) {
    const std::unique_ptr<pair_job> job(static_cast<pair_job*>(raw));
    // An exception leaving a thread would end the whole client; the pair's pipes close on
    // the way out, so its front end learns of the failure.
    try {
        serve_pair(job->names, *job->handler);
    } catch (const std::exception& e) {
        if (job->handler->log) job->handler->log("pair " + job->names.request + ": " + e.what());
    } catch (...) {
        if (job->handler->log) job->handler->log("pair " + job->names.request + ": failed");
    }
}

}  // namespace

std::string wrapper_pipe_from_args(const std::vector<std::string>& args) {
    std::string name;
    for (const std::string& arg : args) {
        if (!arg.starts_with(wrapper_pipe_property)) continue;
        name = arg.substr(wrapper_pipe_property.size());
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
    }
    return name;
}

std::vector<pipe_pair_names> parse_announcement(std::string_view message) {
    std::vector<pipe_pair_names> pairs;
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < message.size()) {
        const std::size_t nl = message.find('\n', pos);
        if (nl == std::string_view::npos) break;
        std::string_view line = message.substr(pos, nl - pos);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.emplace_back(line);
        pos = nl + 1;
    }
    for (std::size_t k = 0; k + 1 < lines.size(); k += 2) {
        pairs.push_back({lines[k], lines[k + 1]});
    }
    return pairs;
}

std::optional<std::string> read_message(platform::pipe& pipe) {
    std::string message;
    std::size_t room = read_chunk;
    for (;;) {
        // Read straight into the message; once a read says how much is left, the rest
        // comes into room made for it at once.
        const std::size_t used = message.size();
        message.resize(used + room);
        const platform::io_result r = pipe.read(message.data() + used, room);
        if (r.status == platform::io_status::failed) return std::nullopt;
        message.resize(used + r.count);
        if (r.status == platform::io_status::ok) return message;
        const std::size_t left = pipe.message_bytes_left();
        room = left > 0 ? left : std::max(read_chunk, message.size());
    }
}

void serve_pair(const pipe_pair_names& names, const pair_handler& handler) {
    const auto log = [&](const std::string& line) {
        if (handler.log) handler.log(line);
    };
    // The relay waits for both ends before it forwards the request.
    platform::pipe request = platform::pipe::open(names.request, platform::pipe_open::read);
    if (!request.valid()) {
        log("cannot open request pipe " + names.request);
        return;
    }
    if (!request.set_message_read_mode()) {
        log("cannot read request pipe " + names.request + " by messages");
    }
    platform::pipe response = platform::pipe::open(names.response, platform::pipe_open::write);
    if (!response.valid()) {
        log("cannot open response pipe " + names.response);
        return;
    }
    const std::optional<std::string> message = read_message(request);
    if (!message) {
        // A message cut short by a broken pipe is never read, not even in part.
        log("request pipe " + names.request + " broke before a whole request arrived");
        return;
    }
    if (const framed_request framed = unframe_request(*message); framed.cut_short) {
        log("request on " + names.request + " cut short (" + framed.error +
            "), dropped unanswered");
        return;
    }
    // The service ends the pair when its front end goes away: nobody waits for the answer
    // then, and a merge still in the user's hands must write nothing.
    merge_cancel cancel;
    std::atomic<bool> answered{false};
    std::thread watch;
    try {
        watch = std::thread([&] {
            while (!answered.load()) {
                if (request.wait_for_peer_gone(pair_watch_round_ms)) {
                    if (!answered.load()) cancel.cancel();
                    return;
                }
            }
        });
    } catch (const std::system_error&) {
        log("pair " + names.request + " is served unwatched: no thread for the watch");
    }
    // Ends the watch once the answer is written, when the service ends the pair anyway.
    struct end_watch {
        std::atomic<bool>& answered;
        std::thread& watch;
        ~end_watch() {
            answered = true;
            if (watch.joinable()) watch.join();
        }
    } end_watch{answered, watch};
    const std::string answer = handler.answer(*message, cancel);
    if (cancel.cancelled()) {
        log("pair " + names.request + " was ended by the service before the answer");
    } else if (!response.write(answer)) {
        log("cannot write the answer to " + names.response);
    }
}

bool run_client(const std::string& wrapper_pipe_name, const pair_handler& handler) {
    platform::pipe wrapper = platform::pipe::open(wrapper_pipe_name, platform::pipe_open::read);
    if (!wrapper.valid()) return false;
    (void)wrapper.set_message_read_mode();
    for (;;) {
        const std::optional<std::string> message = read_message(wrapper);
        if (!message) return true;  // the service has gone
        for (pipe_pair_names& names : parse_announcement(*message)) {
            auto* job = new pair_job{std::move(names), &handler};
            if (!platform::start_detached_thread(pair_thread, job, 0)) {
                // Serve it here rather than leave a front end waiting for ever.
                pair_thread(job);
            }
        }
    }
}

}  // namespace zorv

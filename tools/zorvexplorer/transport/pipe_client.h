// The client's side of the relay service: the wrapper pipe, its announcements and one
// request and answer on each announced pipe pair.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/pipe.h"
#include "tools/zorvexplorer/merge/conflict_resolver.h"

namespace zorv {

inline constexpr std::string_view wrapper_pipe_property =
    "-Dcom.qorva.tarvel.team.client.integration.wrapperpipe=";

/// The wrapper pipe's name from the client's arguments (the last such property wins;
/// stray surrounding quotes are dropped); empty when none is given.
std::string wrapper_pipe_from_args(const std::vector<std::string>& args);

struct pipe_pair_names {
    std::string request;
    std::string response;
};

/// The pairs in one announcement: request name, line feed, response name, line feed,
/// possibly repeated. A trailing half pair is dropped.
std::vector<pipe_pair_names> parse_announcement(std::string_view message);

/// What serving the pairs needs from the client: the answer to one request message (the
/// whole message, HTTP head included; cancel is set when the pair goes away before the answer
/// is there, its front end having gone) and the log.
struct pair_handler {
    std::function<std::string(std::string_view message, merge_cancel& cancel)> answer;
    std::function<void(std::string_view)> log;
};

/// One whole message from a pipe in message read mode; nothing when the pipe broke before
/// a message ended.
std::optional<std::string> read_message(platform::pipe& pipe);

/// Opens the pair, reads the request, writes the answer as one message. Logs what fails.
/// While the answer is made, the pair is watched: once the service ends it, the answer is
/// cancelled.
void serve_pair(const pipe_pair_names& names, const pair_handler& handler);

/// Reads announcements from the wrapper pipe and serves each pair on a thread of its own,
/// until the pipe breaks. False when the wrapper pipe could not be opened. handler must
/// outlive every pair thread (the process).
bool run_client(const std::string& wrapper_pipe_name, const pair_handler& handler);

}  // namespace zorv

// What the fake graphical client understands: its environment, the files it records and
// the answers it gives. Shared by the fake client and the tests that drive it.
#pragma once

#include <string>
#include <string_view>

#include "tests/support/xmlrpc_answers.h"

namespace fake_client {

/// Folder where the client records argv.txt, cwd.txt, pid, connected and request-<n>.bin.
inline constexpr const char* dir_env = "FAKE_CLIENT_DIR";
/// true | false | empty | http_head | two_messages | echo | quit_after:N |
/// die_before_connect | never_open (announced pairs are never opened) | hold:<file> (each
/// answer, true, waits until file exists) (default true).
inline constexpr const char* mode_env = "FAKE_CLIENT_MODE";

inline constexpr std::string_view hold_mode = "hold:";

using test_support::false_answer;
using test_support::http_head;
using test_support::true_answer;

/// The second message of mode two_messages, which must never reach a front end.
inline constexpr std::string_view second_message = "second message";

/// Mode echo: true when the request holds this marker, and the request follows the answer.
inline constexpr std::string_view echo_yes_marker = "answer-yes";

/// Mode echo's answer to request (the whole framed request as the client read it).
inline std::string echo_answer(std::string_view request) {
    std::string answer(request.find(echo_yes_marker) != std::string_view::npos ? true_answer
                                                                               : false_answer);
    answer += '\n';
    answer += request;
    return answer;
}

}  // namespace fake_client

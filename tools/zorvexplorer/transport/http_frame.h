// The HTTP framing around a call on a request pipe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zorv {

struct framed_request {
    std::optional<std::string> body;
    std::string error;  // why the message is not a request we can read
    /// The head promises more body than came: the sender stopped in the middle. Such a
    /// request is dropped unanswered rather than read.
    bool cut_short = false;
};

/// Takes "POST /RPC2 HTTP/1.1\r\nContent-Length: N\r\n\r\n" and the body from message.
/// Other header lines are allowed; the request line and a Content-Length that matches the
/// body are required.
framed_request unframe_request(std::string_view message);

}  // namespace zorv

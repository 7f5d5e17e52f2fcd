// What the client reads for a request body: the body behind its HTTP head, written out
// here rather than taken from the relay, so that a fault in the relay's head shows.
#pragma once

#include <string>
#include <string_view>

namespace service_test {

inline std::string posted(std::string_view body) {
    std::string text = "POST /RPC2 HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\n\r\n";
    text += body;
    return text;
}

}  // namespace service_test

// The client's answers as tests give and expect them: one XML-RPC boolean, and the HTTP
// head that a client may put before it.
#pragma once

#include <string_view>

namespace test_support {

inline constexpr std::string_view true_answer =
    "<?xml version=\"1.0\"?><methodResponse><params><param><value><boolean>1</boolean>"
    "</value></param></params></methodResponse>";
inline constexpr std::string_view false_answer =
    "<?xml version=\"1.0\"?><methodResponse><params><param><value><boolean>0</boolean>"
    "</value></param></params></methodResponse>";
inline constexpr std::string_view http_head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n";

}  // namespace test_support

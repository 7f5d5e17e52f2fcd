// HTTP/1.1 as the merge page's server speaks it: one request a connection, read as text
// and checked here; answers made into the bytes that are sent.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorv {

using http_fields = std::vector<std::pair<std::string, std::string>>;

/// The longest first line and the longest head that are read.
inline constexpr std::size_t largest_request_line = 8 * 1024;
inline constexpr std::size_t largest_request_head = 64 * 1024;

struct http_request {
    std::string method;
    std::string target;   // as sent: "/<token>/save"
    http_fields headers;  // names in lower case, values without surrounding blanks
    std::string body;

    /// The value of the first header named name (lower case); empty when there is none.
    [[nodiscard]] std::string header(std::string_view name) const;
};

/// The request line and header lines of head, each ended by CR LF or LF, up to the blank
/// line that ends the head. Nothing, with error set, for a head that is no HTTP/1.x
/// request: a malformed request line or header line, or a target that is not a path.
std::optional<http_request> parse_request_head(std::string_view head, std::string& error);

/// The body length the head announces: Content-Length, or 0 without it. Nothing when the
/// length is malformed or given twice with different values, or a transfer coding is named
/// (the server takes none).
std::optional<std::size_t> announced_body_length(const http_request& request);

/// True when request_line's target begins with prefix ("/<token>/"). The prefix is compared
/// in the same time whatever the line holds, so that timing tells nothing of a guess.
bool line_carries_prefix(std::string_view request_line, std::string_view prefix);

/// The fields of an application/x-www-form-urlencoded body in order: "+" is a blank, and a
/// percent escape the byte it names, whatever byte that is.
http_fields form_fields(std::string_view body);

/// True when an Accept-Encoding value takes coding ("deflate", "gzip") with a weight above 0.
bool accepts_coding(std::string_view accept_encoding, std::string_view coding);

/// data as a "deflate" content coding (a zlib stream); empty when it cannot be made.
std::string deflated(std::string_view data);

struct http_response {
    int status = 200;
    std::string content_type;  // none when empty
    std::string body;
    http_fields headers;
};

/// The bytes sent for response: status line, Content-Length, "Connection: close", the
/// headers and the body.
std::string serialize_response(const http_response& response);

}  // namespace zorv

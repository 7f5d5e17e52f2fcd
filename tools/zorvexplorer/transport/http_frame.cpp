#include "tools/zorvexplorer/transport/http_frame.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace zorv {

namespace {

constexpr std::string_view request_line = "POST /RPC2 HTTP/1.1";
constexpr std::string_view content_length_field = "content-length";

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

framed_request unframe_request(std::string_view message) {
    framed_request result;
    const std::size_t head_end = message.find("\r\n\r\n");
    if (head_end == std::string_view::npos) {
        result.error = "no HTTP request head";
        return result;
    }
    std::string_view head = message.substr(0, head_end);
    const std::string_view body = message.substr(head_end + 4);
    const std::size_t first_end = head.find("\r\n");
    if (head.substr(0, first_end) != request_line) {
        result.error = "not a POST to /RPC2";
        return result;
    }
    head = first_end == std::string_view::npos ? std::string_view() : head.substr(first_end + 2);
    std::optional<std::size_t> length;
    while (!head.empty()) {
        const std::size_t end = std::min(head.find("\r\n"), head.size());
        const std::string_view line = head.substr(0, end);
        head = end == head.size() ? std::string_view() : head.substr(end + 2);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        if (!equals_ignoring_case(trim(line.substr(0, colon)), content_length_field)) continue;
        const std::string_view digits = trim(line.substr(colon + 1));
        std::size_t n = 0;
        const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (ec != std::errc() || ptr != digits.data() + digits.size() || digits.empty()) {
            result.error = "unreadable Content-Length";
            return result;
        }
        length = n;
    }
    if (!length) {
        result.error = "no Content-Length";
        return result;
    }
    if (*length != body.size()) {
        result.cut_short = *length > body.size();
        result.error = "Content-Length " + std::to_string(*length) + " but " +
                       std::to_string(body.size()) + " bytes of body";
        return result;
    }
    result.body = std::string(body);
    return result;
}

}  // namespace zorv

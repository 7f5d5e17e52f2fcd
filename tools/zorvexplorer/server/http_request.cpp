#include "tools/zorvexplorer/server/http_request.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <climits>

namespace zorv {

namespace {

constexpr std::string_view blanks = " \t";

std::string_view trimmed(std::string_view s) {
    const std::size_t begin = s.find_first_not_of(blanks);
    if (begin == std::string_view::npos) return {};
    return s.substr(begin, s.find_last_not_of(blanks) - begin + 1);
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// A token as HTTP defines one, near enough: visible characters but separators.
bool is_token(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return c > ' ' && c < 127 &&
               std::string_view("()<>@,;:\\\"/[]?={}").find(c) == std::string_view::npos;
    });
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string form_decoded(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() && hex_value(s[i + 1]) >= 0 &&
                   hex_value(s[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(s[i + 1]) * 16 + hex_value(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string_view reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 409:
            return "Conflict";
        case 413:
            return "Content Too Large";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

}  // namespace

std::string http_request::header(std::string_view name) const {
    for (const auto& [n, v] : headers) {
        if (n == name) return v;
    }
    return {};
}

std::optional<http_request> parse_request_head(std::string_view head, std::string& error) {
    std::vector<std::string_view> lines;
    while (!head.empty()) {
        const std::size_t lf = head.find('\n');
        std::string_view line = head.substr(0, lf);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.empty()) break;  // the blank line that ends the head
        lines.push_back(line);
        head = lf == std::string_view::npos ? std::string_view() : head.substr(lf + 1);
    }
    if (lines.empty()) {
        error = "an empty request";
        return std::nullopt;
    }
    http_request r;
    const std::string_view first = lines[0];
    const std::size_t sp1 = first.find(' ');
    const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : first.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || first.find(' ', sp2 + 1) != std::string_view::npos) {
        error = "a malformed request line";
        return std::nullopt;
    }
    r.method = first.substr(0, sp1);
    r.target = first.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string_view version = first.substr(sp2 + 1);
    if (!is_token(r.method) || !r.target.starts_with('/') ||
        (version != "HTTP/1.1" && version != "HTTP/1.0")) {
        error = "a malformed request line";
        return std::nullopt;
    }
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const std::size_t colon = line.find(':');
        // A line that folds onto the one before is refused, as RFC 9112 allows.
        if (colon == std::string_view::npos || !is_token(line.substr(0, colon))) {
            error = "a malformed header line";
            return std::nullopt;
        }
        r.headers.emplace_back(lower(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
    }
    return r;
}

std::optional<std::size_t> announced_body_length(const http_request& request) {
    std::optional<std::size_t> length;
    for (const auto& [name, value] : request.headers) {
        if (name == "transfer-encoding") return std::nullopt;
        if (name != "content-length") continue;
        std::size_t n = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (value.empty() || ec != std::errc() || end != value.data() + value.size())
            return std::nullopt;
        if (length && *length != n) return std::nullopt;
        length = n;
    }
    return length.value_or(0);
}

bool line_carries_prefix(std::string_view request_line, std::string_view prefix) {
    const std::size_t blank = request_line.find(' ');
    if (blank == std::string_view::npos || prefix.empty()) return false;
    const std::string_view target = request_line.substr(blank + 1);
    // Every byte of the prefix is looked at, however early a guess goes wrong.
    unsigned char diff = target.size() < prefix.size() ? 1 : 0;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char c = i < target.size() ? target[i] : '\0';
        diff |= static_cast<unsigned char>(c ^ prefix[i]);
    }
    return diff == 0;
}

http_fields form_fields(std::string_view body) {
    http_fields out;
    while (!body.empty()) {
        const std::size_t amp = body.find('&');
        const std::string_view field = body.substr(0, amp);
        body = amp == std::string_view::npos ? std::string_view() : body.substr(amp + 1);
        if (field.empty()) continue;
        const std::size_t eq = field.find('=');
        out.emplace_back(
            form_decoded(field.substr(0, eq)),
            eq == std::string_view::npos ? std::string() : form_decoded(field.substr(eq + 1)));
    }
    return out;
}

bool accepts_coding(std::string_view accept_encoding, std::string_view coding) {
    while (!accept_encoding.empty()) {
        const std::size_t comma = accept_encoding.find(',');
        const std::string_view entry = accept_encoding.substr(0, comma);
        accept_encoding = comma == std::string_view::npos ? std::string_view()
                                                          : accept_encoding.substr(comma + 1);
        const std::size_t semi = entry.find(';');
        if (lower(trimmed(entry.substr(0, semi))) != coding) continue;
        if (semi == std::string_view::npos) return true;
        // "q=0", "q=0.0" ... refuse it; any other weight takes it.
        const std::string q = lower(trimmed(entry.substr(semi + 1)));
        return !(q.starts_with("q=0") && q.find_first_not_of("0.", 3) == std::string::npos);
    }
    return false;
}

std::string deflated(std::string_view data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    if (data.size() > UINT_MAX ||
        compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                  reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
        return {};
    }
    out.resize(size);
    return out;
}

std::string serialize_response(const http_response& response) {
    std::string out = "HTTP/1.1 " + std::to_string(response.status) + " ";
    out += reason(response.status);
    out +=
        "\r\nContent-Length: " + std::to_string(response.body.size()) + "\r\nConnection: close\r\n";
    if (!response.content_type.empty()) out += "Content-Type: " + response.content_type + "\r\n";
    for (const auto& [name, value] : response.headers) out += name + ": " + value + "\r\n";
    out += "\r\n";
    out += response.body;
    return out;
}

}  // namespace zorv

#include "frontend/request.h"

#include "frontend/compare_options.h"

namespace frontend {

namespace {

constexpr std::string_view call_open = "<methodCall>";
constexpr std::string_view call_close = "</methodCall>";
constexpr std::string_view compare_method = "<methodName>RequestHandler.Compare</methodName>";
constexpr std::string_view merge_method = "<methodName>RequestHandler.CompareMerge</methodName>";
constexpr std::string_view params_open = "<params>";
constexpr std::string_view params_close = "</params>";
constexpr std::string_view string_param_open = "<param><value><string>";
constexpr std::string_view string_param_close = "</string></value></param>";
constexpr std::string_view array_param_open = "<param><value><array>";
constexpr std::string_view array_param_close = "</array></value></param>";
constexpr std::string_view array_item_open = "<data><value><string>";
constexpr std::string_view array_item_close = "</string></value></data>";

constexpr std::string_view boolean_tag = "<boolean>";
// The tag and the eleven characters after it.
constexpr std::size_t boolean_window = 20;

void append_string_param(std::string& out, std::string_view value) {
    out += string_param_open;
    out += xml_escape(value);
    out += string_param_close;
}

void append_array_param(std::string& out, const std::vector<std::string>& values) {
    out += array_param_open;
    for (const auto& value : values) {
        out += array_item_open;
        out += xml_escape(value);
        out += array_item_close;
    }
    out += array_param_close;
}

}  // namespace

std::string xml_escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            // A parser turns these into a line feed or a blank unless they come as
            // references, and a name must arrive as typed.
            case '\r':
                out += "&#13;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\t':
                out += "&#9;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool xml_can_carry(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && c != '\r' && c != '\n' && c != '\t') return false;
    }
    return true;
}

std::string build_request(const CompareOptions& options) {
    std::string out;
    out += call_open;
    out += options.merge_mode ? merge_method : compare_method;
    out += params_open;
    if (options.merge_mode) append_string_param(out, options.output_name);
    append_array_param(out, options.display_names);
    append_array_param(out, options.contributors);
    append_string_param(out, options.encoding_given ? std::string_view(options.type_name) : "");
    out += params_close;
    out += call_close;
    return out;
}

bool reply_succeeded(std::string reply) {
    if (reply.empty()) return false;
    const std::size_t tag = reply.find(boolean_tag);
    if (tag == std::string::npos) return false;
    return reply.substr(tag, boolean_window).find('1') != std::string::npos;
}

}  // namespace frontend

#include "tools/zorvexplorer/transport/xmlrpc.h"

#include <pugixml.hpp>

namespace zorv {

namespace {

// Element content needs only these three.
std::string xml_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

bool has_element_children(const pugi::xml_node& node) {
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() == pugi::node_element) return true;
    }
    return false;
}

// The text of a scalar string value; nothing for any other kind.
std::optional<std::string> string_of(const pugi::xml_node& value) {
    if (!has_element_children(value)) return std::string(value.text().get());
    const pugi::xml_node typed =
        value.find_child([](const pugi::xml_node& n) { return n.type() == pugi::node_element; });
    if (typed.next_sibling() || typed.previous_sibling()) return std::nullopt;
    if (std::string_view(typed.name()) != "string" || has_element_children(typed))
        return std::nullopt;
    return std::string(typed.text().get());
}

std::optional<rpc_value> value_of(const pugi::xml_node& value, std::string& error) {
    const pugi::xml_node array = value.child("array");
    if (!array) {
        auto s = string_of(value);
        if (!s) error = "a parameter is neither a string nor an array of strings";
        return s ? std::optional<rpc_value>(*s) : std::nullopt;
    }
    std::vector<std::string> items;
    for (const pugi::xml_node& data : array.children()) {
        if (data.type() != pugi::node_element) continue;
        if (std::string_view(data.name()) != "data") {
            error = "an array holds <" + std::string(data.name()) + "> instead of <data>";
            return std::nullopt;
        }
        for (const pugi::xml_node& item : data.children()) {
            if (item.type() != pugi::node_element) continue;
            auto s = std::string_view(item.name()) == "value" ? string_of(item) : std::nullopt;
            if (!s) {
                error = "an array holds something other than string values";
                return std::nullopt;
            }
            items.push_back(std::move(*s));
        }
    }
    return rpc_value(std::move(items));
}

}  // namespace

parsed_call parse_call(std::string_view xml) {
    parsed_call result;
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_ws_pcdata_single,
                        pugi::encoding_utf8);
    if (!parsed) {
        result.error = std::string("malformed XML: ") + parsed.description() + " at offset " +
                       std::to_string(parsed.offset);
        return result;
    }
    const pugi::xml_node call = doc.document_element();
    if (std::string_view(call.name()) != "methodCall") {
        result.error = "not a methodCall";
        return result;
    }
    rpc_call out;
    out.method = call.child("methodName").text().get();
    if (out.method.empty()) {
        result.error = "no method name";
        return result;
    }
    for (const pugi::xml_node& param : call.child("params").children("param")) {
        const pugi::xml_node value = param.child("value");
        if (!value) {
            result.error = "a parameter without a value";
            return result;
        }
        auto v = value_of(value, result.error);
        if (!v) return result;
        out.params.push_back(std::move(*v));
    }
    result.call = std::move(out);
    return result;
}

std::string boolean_response(bool value) {
    std::string body = "<?xml version=\"1.0\"?><methodResponse><params><param><value><boolean>";
    body += value ? '1' : '0';
    body += "</boolean></value></param></params></methodResponse>";
    return body;
}

std::string fault_response(int code, std::string_view message) {
    return "<?xml version=\"1.0\"?><methodResponse><fault><value><struct>"
           "<member><name>faultCode</name><value><int>" +
           std::to_string(code) +
           "</int></value></member>"
           "<member><name>faultString</name><value><string>" +
           xml_text(message) +
           "</string></value></member>"
           "</struct></value></fault></methodResponse>";
}

std::string http_answer(std::string_view body) {
    std::string out = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: ";
    out += std::to_string(body.size());
    out += "\r\n\r\n";
    out += body;
    return out;
}

}  // namespace zorv

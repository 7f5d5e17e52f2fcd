// The XML-RPC calls the client serves and the answers it gives.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zorv {

/// A parameter: a string or an array of strings (the only kinds the requests hold).
using rpc_value = std::variant<std::string, std::vector<std::string>>;

struct rpc_call {
    std::string method;
    std::vector<rpc_value> params;
};

struct parsed_call {
    std::optional<rpc_call> call;
    std::string error;  // why the text is not a call we can read
};

/// Reads a methodCall. Arrays may hold one data element per value or one around all
/// values. A value without a type element is a string; other scalar types are refused.
parsed_call parse_call(std::string_view xml);

/// Standard fault codes.
inline constexpr int fault_parse_error = -32700;
inline constexpr int fault_unknown_method = -32601;
inline constexpr int fault_invalid_params = -32602;

/// A methodResponse holding one boolean, written without white space.
std::string boolean_response(bool value);

/// A methodResponse holding a fault; it carries no boolean element.
std::string fault_response(int code, std::string_view message);

/// The answer message: an HTTP response head followed by body.
std::string http_answer(std::string_view body);

}  // namespace zorv

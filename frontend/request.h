// The XML-RPC call that carries a compare or merge, and the judgement of its reply.
#pragma once

#include <string>
#include <string_view>

namespace frontend {

struct CompareOptions;

/// "&", "<" and ">" as XML entities, carriage return, line feed and tab as character
/// references; every other byte unchanged.
std::string xml_escape(std::string_view text);

/// False when text holds a control character that XML 1.0 cannot carry at all (any below
/// 0x20 but tab, line feed and carriage return).
bool xml_can_carry(std::string_view text);

/// The method call text for a validated record.
std::string build_request(const CompareOptions& options);

/// True when the 20-character window at the first "<boolean>" holds a "1".
bool reply_succeeded(std::string reply);

}  // namespace frontend

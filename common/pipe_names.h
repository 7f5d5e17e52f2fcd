// Names of the pipes between the front end, the relay service and the client. Every name
// is a fixed prefix followed directly by the login name.
#pragma once

#include <string>
#include <string_view>

namespace common {

inline constexpr std::string_view pipe_base = R"(\\.\pipe\qorva\tarvel\varnex71\zorv_service_pipe)";
inline constexpr std::string_view launcher_request_pipe_prefix =
    R"(\\.\pipe\qorva\tarvel\varnex71\zorv_service_pipe_request)";

/// The launcher request pipe of login.
std::string launcher_request_pipe_name(std::string_view login);

/// A wrapper or pair pipe: pipe base, token, login.
std::string service_pipe_name(std::string_view token, std::string_view login);

}  // namespace common

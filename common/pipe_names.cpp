#include "common/pipe_names.h"

namespace common {

std::string launcher_request_pipe_name(std::string_view login) {
    std::string name(launcher_request_pipe_prefix);
    name += login;
    return name;
}

std::string service_pipe_name(std::string_view token, std::string_view login) {
    std::string name(pipe_base);
    name += token;
    name += login;
    return name;
}

}  // namespace common

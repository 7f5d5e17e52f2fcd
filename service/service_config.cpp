#include "service/service_config.h"

#include <cstdlib>
#include <string_view>

#include "service/service_texts.h"

namespace service {

service_config parse_service_config(int argc, const char* const* argv, const char* pair_timeout) {
    service_config config;
    if (argc > 1) config.client_folder = argv[1];
    config.debug_mode = argc > 2 && std::string_view(argv[2]) == debug_argument;
    if (pair_timeout != nullptr && *pair_timeout != '\0') {
        config.pair_timeout_ms =
            static_cast<std::uint32_t>(std::strtoul(pair_timeout, nullptr, 10));
    }
    return config;
}

}  // namespace service

// The service's command line and environment, read into its configuration.
#include "service/service_config.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

TEST(service_config, takes_the_client_folder_debug_mode_and_pair_timeout) {
    struct row {
        std::vector<const char*> args;  // after the program
        const char* pair_timeout;
        std::optional<std::string> folder;
        bool debug;
        std::uint32_t timeout_ms;
    };
    const row rows[] = {
        {{}, nullptr, std::nullopt, false, 30000},
        {{"/opt/ZorvHome"}, nullptr, "/opt/ZorvHome", false, 30000},
        {{""}, nullptr, "", false, 30000},
        {{"/opt/ZorvHome", "-debug"}, nullptr, "/opt/ZorvHome", true, 30000},
        {{"/opt/ZorvHome", "-debug", "more"}, nullptr, "/opt/ZorvHome", true, 30000},
        // "-debug" in the first place is a folder name.
        {{"-debug"}, nullptr, "-debug", false, 30000},
        {{"/opt/ZorvHome", "-Debug"}, nullptr, "/opt/ZorvHome", false, 30000},
        {{"/opt/ZorvHome", "-debug "}, nullptr, "/opt/ZorvHome", false, 30000},
        {{"/opt/ZorvHome", "x", "-debug"}, nullptr, "/opt/ZorvHome", false, 30000},
        {{"/opt/ZorvHome"}, "300", "/opt/ZorvHome", false, 300},
        {{"/opt/ZorvHome"}, "", "/opt/ZorvHome", false, 30000},
    };
    for (const row& r : rows) {
        std::vector<const char*> argv{"zorv_service"};
        argv.insert(argv.end(), r.args.begin(), r.args.end());
        const std::string what = testing::PrintToString(r.args);
        const service::service_config config = service::parse_service_config(
            static_cast<int>(argv.size()), argv.data(), r.pair_timeout);
        EXPECT_EQ(config.client_folder, r.folder) << what;
        EXPECT_EQ(config.debug_mode, r.debug) << what;
        EXPECT_EQ(config.pair_timeout_ms, r.timeout_ms) << what;
    }
}

}  // namespace

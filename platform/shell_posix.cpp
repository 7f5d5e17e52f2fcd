#include <cstdlib>

#include "platform/process.h"
#include "platform/shell.h"

namespace platform {

namespace {

bool env_set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

}  // namespace

bool desktop_session() { return env_set("DISPLAY") || env_set("WAYLAND_DISPLAY"); }

bool open_with_default_application(const std::string& target) {
    return start_viewer({"xdg-open", target});
}

bool start_viewer(const std::vector<std::string>& argv) {
    // Not waited for, so a slow viewer never holds anything up; and what it prints is not
    // ours to show.
    return spawn(argv, {.working_folder = {}, .hidden = true, .detached = true}).valid();
}

}  // namespace platform

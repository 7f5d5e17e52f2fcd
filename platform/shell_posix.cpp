#include <cstdlib>
#include <vector>

#include "platform/process.h"
#include "platform/shell.h"

namespace platform {

bool desktop_session() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') return true;
    }
    return false;
}

bool open_with_default_application(const std::string& target) {
    // Not waited for, so a slow viewer never holds anything up; found in PATH by the spawn.
    return spawn({"xdg-open", target}, {.working_folder = {}, .hidden = true, .detached = true})
        .valid();
}

}  // namespace platform

// Showing files and pages on the user's desktop.
#pragma once

#include <string>

namespace platform {

/// True when there is a desktop to show things on. POSIX: DISPLAY or WAYLAND_DISPLAY set;
/// Windows: always, programs run in the user's session.
bool desktop_session();

/// Opens target (a file's path or a URL) with the desktop's default application for it,
/// without waiting: POSIX: xdg-open from PATH, started detached; Windows: ShellExecuteW
/// "open" (the path in the system's code page). False when nothing could be started.
[[nodiscard]] bool open_with_default_application(const std::string& target);

}  // namespace platform

// Showing files and pages on the user's desktop.
#pragma once

#include <string>
#include <vector>

namespace platform {

/// True when there is a desktop to show things on. POSIX: DISPLAY or WAYLAND_DISPLAY set;
/// Windows: always, programs run in the user's session.
bool desktop_session();

/// Opens target (a file's path or a URL) with the desktop's default application for it,
/// without waiting: POSIX: xdg-open from PATH, as start_viewer starts it; Windows:
/// ShellExecuteW "open" (the path in the system's code page). False when nothing could be
/// started.
[[nodiscard]] bool open_with_default_application(const std::string& target);

/// Starts a program that shows the user something (a browser that the user named; argv[0]
/// found as spawn finds it) without waiting for it. POSIX: in a session of its own, its
/// output not ours (on /dev/null); Windows: with its window shown, outside our console. False
/// when it could not be started.
[[nodiscard]] bool start_viewer(const std::vector<std::string>& argv);

}  // namespace platform

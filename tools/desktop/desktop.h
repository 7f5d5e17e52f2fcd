// Showing things on the user's desktop, when there is one.
#pragma once

#include <string>

namespace desktop {

/// True when a graphical session is there (DISPLAY or WAYLAND_DISPLAY set).
bool desktop_session();

/// The full path of program found in PATH; empty when it is not there.
std::string find_in_path(const std::string& program);

/// Opens path with the desktop's default application without waiting for it. False when
/// there is no desktop session or no opener.
bool open_on_desktop(const std::string& path);

}  // namespace desktop

// Showing things on the user's desktop, when there is one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace desktop {

/// True when a graphical session is there (DISPLAY or WAYLAND_DISPLAY set; always on Windows).
bool desktop_session();

/// The full path of program found in PATH; empty when it is not there.
std::string find_in_path(const std::string& program);

/// Opens path in the user's browser as open_in_browser does, when a desktop session is
/// there. False when there is none, or no command could be started.
bool open_on_desktop(const std::string& path);

/// The command lines that $BROWSER (browser_setting) names for url, in the order to try:
/// commands separated by colons (semicolons on Windows), each split at blanks, "%s"
/// replaced by the URL (and "%%" by "%"), the URL appended when no "%s" stands in it. None
/// when it names none.
std::vector<std::vector<std::string>> browser_commands(std::string_view browser_setting,
                                                       const std::string& url);

/// Opens url in the user's browser without waiting for it, whether or not a desktop session
/// is there: the first command of $BROWSER that starts (platform::start_viewer: a program
/// named without a folder is found as the platform finds commands), else, when $BROWSER
/// names none, the desktop's default application (xdg-open, or the Windows shell). False
/// when no command could be started.
bool open_in_browser(const std::string& url);

}  // namespace desktop

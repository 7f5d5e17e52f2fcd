// The per-user work directory, the program's log in it, and the paths of the files it
// holds. Each program has its own process-wide copy of this state.
#pragma once

#include <string>
#include <string_view>

#include "platform/path_style.h"

namespace common {

inline constexpr std::string_view frontend_log_name = "trelmerge.log";
inline constexpr std::string_view service_log_name = "zorv_service.log";
inline constexpr std::string_view pid_file_name = "zorv_service.pid";

/// What both programs show through the prompt tool when setup_work_dir fails; its two
/// double quotes belong to the text.
inline constexpr std::string_view work_dir_failure_text =
    "\" Could not set the temporary directory \"";

/// tmpdir, a separator, login and ".trelmerge" (C:\Temp + alice -> C:\Temp\alice.trelmerge).
/// The separator is added whatever tmpdir ends with.
std::string compose_work_dir(std::string_view tmpdir, std::string_view login,
                             platform::path_style style);

/// Composes the work directory from the runtime's temporary directory and login name and
/// creates it (owner-only). True when it exists afterwards and is private to the user.
[[nodiscard]] bool setup_work_dir();

/// The composed work directory; empty before setup_work_dir().
std::string get_work_dir();

/// The work directory, a separator and name.
std::string work_file_path(std::string_view name);

/// Sets the log to name in the work directory and empties (or creates) it.
void open_log_file(std::string_view name);

/// Appends text and a line feed to the log; to standard output when it can't be opened.
void write_log_line(std::string_view text);

}  // namespace common

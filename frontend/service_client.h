// The front end's side of the relay service: find it, start it, and exchange one request.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path_style.h"

namespace frontend {

/// The connect loop's schedule. The pause is injectable so that tests never sleep.
struct connect_schedule {
    int attempts = 13;
    std::uint32_t wait_timeout_ms = 10000;
    unsigned pause_seconds = 10;
    std::function<void(unsigned seconds)> pause;  // default: libquentnt's sleep
    /// Starts a service when no live server holds the pipe after the first wait and its
    /// pause, unless this run has started one already; default: start_service.
    std::function<int()> restart;
};

/// Replaces the schedule used by send_service_request (tests, and the test hook of main).
/// An empty pause means libquentnt's sleep.
void set_connect_schedule(connect_schedule schedule);

/// Test hook of the real binary: when this environment variable holds a decimal number, each
/// pause of the connect loop lasts that many milliseconds instead of its seconds, so tests of
/// the installed programs never wait out the full schedule.
inline constexpr const char* connect_pause_env = "VARNEX_CONNECT_PAUSE_MS";

/// The schedule for a value of connect_pause_env; nothing when it is not a decimal number.
std::optional<connect_schedule> connect_schedule_for_pause_ms(std::string_view text);

/// Test hook of the real binary beside connect_pause_env: when it holds a decimal number,
/// each wait of the connect loop times out after that many milliseconds instead of 10000.
inline constexpr const char* connect_wait_env = "VARNEX_CONNECT_WAIT_MS";

/// schedule with its wait time-out taken from a value of connect_wait_env; unchanged when
/// that is not a decimal number.
connect_schedule with_connect_wait_ms(connect_schedule schedule, std::string_view text);

/// The first token of a pid file read as a signed 32-bit integer.
std::optional<std::int32_t> read_pid(std::istream& in);

/// The start path: product, one separator, then "\bin\zorv_service.exe" (doubled
/// separator kept on windows: C:\Prod\\bin\zorv_service.exe); posix: product/bin/zorv_service.
std::string service_start_path(std::string_view product_dir, platform::path_style style);

/// The executable a running service has: product + "\bin\zorv_service.exe".
std::string service_executable_path(std::string_view product_dir, platform::path_style style);

/// product + "\ZorvHome".
std::string client_folder_path(std::string_view product_dir, platform::path_style style);

/// The start path and the client folder: the service's argv.
std::vector<std::string> service_argv(std::string_view product_dir, platform::path_style style);

/// "<start path>" "<client folder>", the folder escaped by the command-line rules.
std::string service_command_line(std::string_view product_dir, platform::path_style style);

/// Whether the running executable a is the program b: case-insensitive on windows; on
/// posix also when a is b with the suffix " (deleted)" of a file replaced by an update.
bool same_executable(std::string_view a, std::string_view b, platform::path_style style);

bool service_is_running();
bool is_service_process(std::int32_t pid);
std::string get_service_path();

/// 0 when the service process was created, -1 when not (also when the program is missing).
int start_service();

/// One exchange on the launcher request pipe; reply gets the answer's bytes up to the
/// first NUL, at most 1023 of them.
bool send_service_request(const std::string& request, std::string& reply);

}  // namespace frontend

#include "frontend/service_client.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "common/login_name.h"
#include "common/pipe_names.h"
#include "common/product_dir.h"
#include "common/work_dir.h"
#include "platform/command_line.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "runtime/product_runtime.h"

namespace frontend {

namespace {

constexpr std::string_view service_dir = "bin";
constexpr std::string_view service_program = "zorv_service";
constexpr std::string_view client_folder = "ZorvHome";
constexpr std::string_view deleted_file_suffix = " (deleted)";
constexpr std::string_view obtain_pipe_failure = "Unable to obtain pipe ";

// One read of at most reply_limit bytes into a zeroed buffer one byte larger.
constexpr std::size_t reply_limit = 1023;

// Set before any exchange, by main or by a test; the run is single-threaded.
connect_schedule current_schedule;

// Whether this run started a service: one started here is given the whole schedule to make
// its pipe (a wait fails at once on Windows while it is still starting).
bool started_here = false;

void default_pause(unsigned seconds) { libquentnt::sleep(seconds); }

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

void set_connect_schedule(connect_schedule schedule) { current_schedule = std::move(schedule); }

namespace {

// Milliseconds of a test hook. Nine digits at most: a pause of days is no test's wish, and
// the value stays in range.
std::optional<std::uint32_t> hook_ms(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::uint32_t ms = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        ms = ms * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return ms;
}

}  // namespace

std::optional<connect_schedule> connect_schedule_for_pause_ms(std::string_view text) {
    const std::optional<std::uint32_t> ms = hook_ms(text);
    if (!ms) return std::nullopt;
    connect_schedule schedule;
    schedule.pause = [ms = *ms](unsigned) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    };
    return schedule;
}

connect_schedule with_connect_wait_ms(connect_schedule schedule, std::string_view text) {
    if (const std::optional<std::uint32_t> ms = hook_ms(text)) schedule.wait_timeout_ms = *ms;
    return schedule;
}

std::optional<std::int32_t> read_pid(std::istream& in) {
    std::int32_t pid = 0;
    if (!(in >> pid)) return std::nullopt;
    return pid;
}

std::string service_start_path(std::string_view product_dir, platform::path_style style) {
    // Windows keeps the doubled separator before "bin" of the installed command line; the
    // file system reads it as one.
    std::string path(product_dir);
    if (style == platform::path_style::windows) path += '\\';
    path += platform::separator(style);
    path += service_dir;
    path += platform::separator(style);
    path += platform::program_file(service_program, style);
    return path;
}

std::string service_executable_path(std::string_view product_dir, platform::path_style style) {
    return common::installed_program_path(product_dir, service_program, style);
}

std::string client_folder_path(std::string_view product_dir, platform::path_style style) {
    return platform::join_path(product_dir, client_folder, style);
}

std::vector<std::string> service_argv(std::string_view product_dir, platform::path_style style) {
    return {service_start_path(product_dir, style), client_folder_path(product_dir, style)};
}

std::string service_command_line(std::string_view product_dir, platform::path_style style) {
    // The folder is quoted by the rules the service's argv is split by, so that a quote or
    // a trailing backslash in it arrives as it stands.
    return platform::join_command_line_quoted(service_argv(product_dir, style));
}

bool same_executable(std::string_view a, std::string_view b, platform::path_style style) {
    if (style == platform::path_style::posix) {
        // A program whose file an update replaced keeps running from the unlinked file,
        // which the system names with this suffix.
        if (a.size() > b.size() && a.substr(b.size()) == deleted_file_suffix) {
            a = a.substr(0, b.size());
        }
        return !a.empty() && a == b;
    }
    // An unreadable module path is empty and never matches.
    if (a.empty() || a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    }
    return true;
}

bool service_is_running() {
    std::ifstream in(common::work_file_path(common::pid_file_name));
    if (!in) return false;
    const auto pid = read_pid(in);
    in.close();
    return pid.has_value() && is_service_process(*pid);
}

bool is_service_process(std::int32_t pid) {
    const std::string running = platform::process_executable_path(pid);
    const auto style = platform::native_path_style();
    return same_executable(running, service_executable_path(common::installed_product_dir(), style),
                           style);
}

std::string get_service_path() {
    return service_start_path(common::installed_product_dir(), platform::native_path_style());
}

int start_service() {
    started_here = true;
    const std::string product_dir = common::installed_product_dir();
    // Nobody waits for the service: it outlives this run. Started from its argv, so that a
    // product folder holding a quote still names the program.
    platform::spawn_options on_its_own;
    on_its_own.hidden = true;
    on_its_own.detached = true;
    const platform::process service = platform::spawn(
        {get_service_path(), client_folder_path(product_dir, platform::native_path_style())},
        on_its_own);
    return service.valid() ? 0 : -1;
}

bool send_service_request(const std::string& request, std::string& reply) {
    const std::string name = common::launcher_request_pipe_name(common::login_name());

    const connect_schedule& schedule = current_schedule;
    for (int attempt = 0; attempt < schedule.attempts; ++attempt) {
        if (platform::wait_named_pipe(name, schedule.wait_timeout_ms)) break;
        // A service started a moment ago may not have made its pipe yet.
        if (schedule.pause) {
            schedule.pause(schedule.pause_seconds);
        } else {
            default_pause(schedule.pause_seconds);
        }
        // The service found before may serve another pipe folder (a session with a runtime
        // directory of its own beside one without), or may have ended since: a pipe that no
        // live server holds after the first wait and its pause gets a service of its own.
        if (attempt == 0 && !started_here && !platform::pipe_is_served(name)) {
            (void)(schedule.restart ? schedule.restart() : start_service());
        }
    }

    // Tried whatever the waits said: an instance may have come free meanwhile.
    platform::pipe pipe = platform::pipe::open(name, platform::pipe_open::read_write);
    if (!pipe.valid()) {
        std::string line(obtain_pipe_failure);
        line += name;
        common::write_log_line(line);
        return false;
    }
    if (!pipe.write(request)) return false;

    char buffer[reply_limit + 1] = {};
    const platform::io_result got = pipe.read(buffer, reply_limit);
    // The service never sends an empty reply: nothing read means it went away.
    if (got.status == platform::io_status::failed || got.count == 0 || got.count > reply_limit) {
        return false;
    }
    reply.append(buffer, ::strnlen(buffer, got.count));
    pipe.close();
    return true;
}

}  // namespace frontend

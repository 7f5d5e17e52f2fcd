// Processes: starting, watching and identifying them.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// A started child process. Move-only; dropping it neither waits for nor ends the child.
class process {
  public:
    process() = default;
    ~process();
    process(process&& other) noexcept;
    process& operator=(process&& other) noexcept;
    process(const process&) = delete;
    process& operator=(const process&) = delete;

    [[nodiscard]] bool valid() const;
    [[nodiscard]] int id() const;

    /// True once the process has ended (does not block).
    [[nodiscard]] bool has_ended() const;

    /// Waits up to timeout for the end; the exit code, or nothing on time-out.
    [[nodiscard]] std::optional<int> wait_for_exit(std::chrono::milliseconds timeout) const;

  private:
    friend struct process_access;
    struct impl;
    impl* impl_ = nullptr;
};

/// Starts a program from a Windows-style command line (its first word names the program)
/// hidden and detached: no window (CREATE_NO_WINDOW, SW_HIDE); on POSIX in a session of
/// its own with its standard streams on /dev/null. Environment and directory inherited.
[[nodiscard]] process start_hidden_detached(std::string_view command_line);

/// As above for a program and its arguments (argv[0] the program's path): on POSIX spawned
/// as given, so any byte of a path arrives; on Windows joined by join_command_line_quoted.
[[nodiscard]] process start_hidden_detached(const std::vector<std::string>& argv);

/// Starts a program from a Windows-style command line with no flags, the current
/// directory and environment inherited (CreateProcessA with defaults).
[[nodiscard]] process start_process(std::string_view command_line);

/// Runs program (a path) with argv (argv[0] included) without a command interpreter,
/// waits for it and returns its exit code; nothing when it could not be started. POSIX: the
/// code (a signal end gives 128 + signal).
[[nodiscard]] std::optional<int> run_and_wait(const std::string& program,
                                              const std::vector<std::string>& argv);

/// The full path of the main executable of process pid; empty when it can't be read.
std::string process_executable_path(int pid);

int current_process_id();

/// From now on, children of this process that end are reaped by the system at once and
/// leave no zombie behind; for a long-lived process that starts children it never waits
/// for. Their exit codes are lost (a later wait finds them gone). Nothing to do on Windows,
/// where a process handle that is closed leaves nothing behind.
void reap_children_automatically();

/// The current directory; empty when it can't be read.
std::string current_directory();
bool set_current_directory(const std::string& dir);

}  // namespace platform

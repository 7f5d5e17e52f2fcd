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

/// How spawn starts a program. The defaults start it as CreateProcessA does without flags:
/// in this process's directory, with its environment, console and standard streams.
struct spawn_options {
    /// The child's current directory; empty for this process's. This process's own directory
    /// never changes, and a relative program path is still found from it.
    std::string working_folder;
    /// No window and no console output: CREATE_NO_WINDOW with SW_HIDE on Windows, the
    /// standard streams on /dev/null on POSIX.
    bool hidden = false;
    /// Not tied to this process's terminal or console, so that it outlives them: a session of
    /// its own on POSIX; on Windows no share in this console (DETACHED_PROCESS, or the
    /// windowless console of its own that hidden gives).
    bool detached = false;
};

/// Starts argv[0] with the arguments that follow and does not wait for it; a program name
/// without a separator is looked up as the platform looks up commands. POSIX: spawned as
/// given, so any byte of an argument arrives; Windows: joined by join_command_line_quoted.
/// Invalid when it could not be started (also when working_folder is no folder).
[[nodiscard]] process spawn(const std::vector<std::string>& argv,
                            const spawn_options& options = {});

/// For a program whose Windows command line is itself the contract: Windows hands
/// command_line to CreateProcessA as it stands; POSIX spawns the argv that the Windows
/// C runtime makes of it (split_command_line).
[[nodiscard]] process spawn_command_line(std::string_view command_line,
                                         const spawn_options& options = {});

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

}  // namespace platform

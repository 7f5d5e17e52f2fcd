// Noticing that files were replaced or removed, and that the process was asked to stop:
// a long-lived program ends when its own program file is replaced by an upgrade.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

/// What tells one file on disk from another: device and inode on POSIX, volume serial
/// number and file index on Windows. A file replaced under the same name gets another.
struct file_identity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const file_identity&) const = default;
};

/// The identity of the file at path (symbolic links followed); nothing when there is none.
[[nodiscard]] std::optional<file_identity> identify_file(const std::string& path);

/// Wakes one thread when names are created, removed or renamed in the folders it watches,
/// or when the process is asked to stop. Meant for one watching thread.
class change_watch {
  public:
    change_watch();
    ~change_watch();
    change_watch(const change_watch&) = delete;
    change_watch& operator=(const change_watch&) = delete;

    /// Watches folder. False when it cannot (no such folder, or the system's limit of
    /// watches is reached); the caller then looks for itself at intervals.
    bool add_folder(const std::string& folder);

    /// POSIX: from now on SIGTERM no longer ends the process at once but makes wait give
    /// stop_requested (once per signal). False where there is no such request (Windows) or
    /// it cannot be caught. At most one watch of a process catches it.
    bool catch_stop_request();

    enum class event { changed, stop_requested, timed_out };

    /// Blocks until a watched folder changed, a stop was requested, or timeout_ms passed
    /// (no_change_timeout: no time-out). A stop request comes first.
    event wait(std::uint32_t timeout_ms);

    static constexpr std::uint32_t no_change_timeout = 0xFFFFFFFF;

  private:
    struct impl;
    impl* impl_;
};

}  // namespace platform

#include "tools/zorvexplorer/files/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>
#include <vector>

#include "platform/process.h"

namespace zorv {

namespace {

constexpr std::string_view max_input_variable = "VARNEX_CLIENT_MAX_INPUT_BYTES";
constexpr std::string_view temp_suffix = ".tmp";
constexpr int max_link_hops = 40;  // as the kernel's own limit on a path's links

std::atomic<unsigned> name_counter{0};

// Temporary files of this process are never older than this; older ones of ours were
// left by a client that was killed. File times come from the kernel's coarse clock, so
// the start is read from it too: a file written a moment after start must not look older.
const std::timespec process_start = [] {
    std::timespec t{};
    clock_gettime(CLOCK_REALTIME_COARSE, &t);
    return t;
}();

bool older_than_start(const struct stat& st) {
    return st.st_mtim.tv_sec < process_start.tv_sec || (st.st_mtim.tv_sec == process_start.tv_sec &&
                                                        st.st_mtim.tv_nsec < process_start.tv_nsec);
}

// Unique within this process (counter) and across processes (pid, time): digits and dashes.
std::string unique_part() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    return std::to_string(ms) + "-" + std::to_string(platform::current_process_id()) + "-" +
           std::to_string(name_counter.fetch_add(1));
}

std::string errno_text(const std::string& path) { return path + ": " + std::strerror(errno); }

// Owns a descriptor.
struct fd_owner {
    int fd = -1;
    explicit fd_owner(int f) : fd(f) {}
    ~fd_owner() {
        if (fd >= 0) ::close(fd);
    }
    fd_owner(const fd_owner&) = delete;
    fd_owner& operator=(const fd_owner&) = delete;
    bool close_checked() {
        const int f = fd;
        fd = -1;
        return ::close(f) == 0;
    }
};

bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The kernel's protected_symlinks rule, kept whether or not the kernel keeps it: in a sticky
// folder that every user may write, a link is followed only when it belongs to us or to the
// folder's owner, since anyone else's link there may have been planted to redirect our write.
bool may_follow(const struct stat& link, const struct stat& folder) {
    constexpr mode_t shared = S_ISVTX | S_IWOTH;
    return (folder.st_mode & shared) != shared || link.st_uid == ::geteuid() ||
           link.st_uid == folder.st_uid;
}

// The path that a write to path lands on: symbolic links followed to the end (which need
// not exist yet), each one checked by may_follow. Empty with error set for a loop, an
// unreadable link or one that may not be followed.
std::string follow_links(std::string path, std::string& error) {
    for (int hop = 0; hop < max_link_hops; ++hop) {
        // The link is checked and read through one descriptor: what was checked is what is read.
        fd_owner link(::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (link.fd < 0 || ::fstat(link.fd, &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        struct stat folder {};
        if (::stat(folder_of(path).c_str(), &folder) != 0) {
            error = errno_text(folder_of(path));
            return {};
        }
        if (!may_follow(st, folder)) {
            error = path +
                    ": a symbolic link of another user in a sticky folder that all may write; "
                    "not followed, nothing written";
            return {};
        }
        std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = ::readlinkat(link.fd, "", target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
            error = path + ": cannot read the symbolic link";
            return {};
        }
        const std::string to(target.data(), static_cast<std::size_t>(n));
        path = to.starts_with('/') ? to : folder_of(path) + "/" + to;
    }
    error = path + ": too many levels of symbolic links";
    return {};
}

bool is_temp_name_of(std::string_view entry, std::string_view target_name) {
    // "." name "." digits "-" digits "-" digits ".tmp"
    if (!entry.starts_with('.')) return false;
    entry.remove_prefix(1);
    if (!entry.starts_with(target_name)) return false;
    entry.remove_prefix(target_name.size());
    if (!entry.starts_with('.') || !entry.ends_with(temp_suffix)) return false;
    entry = entry.substr(1, entry.size() - 1 - temp_suffix.size());
    int groups = 0;
    for (std::size_t start = 0; start <= entry.size(); ++groups) {
        const std::size_t dash = std::min(entry.find('-', start), entry.size());
        const std::string_view digits = entry.substr(start, dash - start);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        start = dash + 1;
    }
    return groups == 3;
}

// Removes temporary files for target that a killed client left: ours, regular, and older
// than this process.
void remove_stale_temps(const std::string& folder, const std::string& target_name) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> stale;
    while (const dirent* e = ::readdir(dir)) {
        if (!is_temp_name_of(e->d_name, target_name)) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && older_than_start(st)) {
            stale.emplace_back(e->d_name);
        }
    }
    for (const std::string& name : stale) ::unlinkat(::dirfd(dir), name.c_str(), 0);
    ::closedir(dir);
}

constexpr mode_t set_id_bits = S_ISUID | S_ISGID;

bool pwrite_all(int fd, std::string_view data, off_t at) {
    while (!data.empty()) {
        const ssize_t n = ::pwrite(fd, data.data(), data.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
        at += n;
    }
    return true;
}

// Makes room for all of data in the file before any old byte changes: the file is grown
// to the new size (allocated first where the file system can) with the new text's tail, so
// that a full disk refuses the write while the old bytes still stand whole.
std::string reserve_room(int fd, const std::string& path, off_t old_size, std::string_view data) {
    const auto new_size = static_cast<off_t>(data.size());
    if (new_size <= old_size) return {};
    const auto no_room = [&](int error) {
        return path + ": no room for the new text (" + std::strerror(error) + "); left as it was";
    };
    if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, new_size) != 0 && errno != EOPNOTSUPP &&
        errno != ENOSYS) {
        return no_room(errno);
    }
    if (!pwrite_all(fd, data.substr(static_cast<std::size_t>(old_size)), old_size)) {
        const int error = errno;
        (void)::ftruncate(fd, old_size);
        return no_room(error);
    }
    return {};
}

// Writes data over the file itself: its inode, links, owner and group stay.
std::string write_in_place(const std::string& path, const struct stat& expected,
                           std::string_view data) {
    fd_owner f(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (f.fd < 0) return errno_text(path);
    struct stat st {};
    if (::fstat(f.fd, &st) != 0) return errno_text(path);
    if (!S_ISREG(st.st_mode) || st.st_ino != expected.st_ino || st.st_dev != expected.st_dev)
        return path + ": changed while it was being written";
    if (std::string error = reserve_room(f.fd, path, st.st_size, data); !error.empty())
        return error;
    const std::string_view front =
        data.substr(0, std::min(data.size(), static_cast<std::size_t>(st.st_size)));
    if (!pwrite_all(f.fd, front, 0) || ::ftruncate(f.fd, static_cast<off_t>(data.size())) != 0)
        return errno_text(path) + " (written in place: the file may be incomplete)";
    if ((st.st_mode & set_id_bits) != 0 && ::fchmod(f.fd, st.st_mode & 07777 & ~set_id_bits) != 0)
        return errno_text(path);
    if (::fsync(f.fd) != 0 || !f.close_checked()) return errno_text(path);
    return {};
}

enum class replace_outcome { done, failed, needs_in_place };

// Writes data to a new temporary file beside path and renames it over path. old is the
// file it replaces, null for a new file.
replace_outcome replace_atomically(const std::string& path, const struct stat* old,
                                   std::string_view data, std::string& error) {
    const std::string temp =
        folder_of(path) + "/." + name_of(path) + "." + unique_part() + std::string(temp_suffix);
    fd_owner f(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (f.fd < 0) {
        // A file of ours in a folder we may not write: nothing can be made beside it, but
        // the file itself can still be written.
        if (old != nullptr && (errno == EACCES || errno == EPERM))
            return replace_outcome::needs_in_place;
        error = errno_text(temp);
        return replace_outcome::failed;
    }
    const auto give_up = [&](replace_outcome outcome) {
        if (f.fd >= 0) f.close_checked();
        ::unlink(temp.c_str());
        return outcome;
    };
    if (old != nullptr) {
        // A group we cannot give the new file is kept by writing the old one in place.
        if (old->st_gid != ::getegid() && ::fchown(f.fd, static_cast<uid_t>(-1), old->st_gid) != 0)
            return give_up(replace_outcome::needs_in_place);
        if (::fchmod(f.fd, old->st_mode & 07777 & ~set_id_bits) != 0) {
            error = errno_text(temp);
            return give_up(replace_outcome::failed);
        }
    }
    if (!write_all(f.fd, data) || ::fsync(f.fd) != 0 || !f.close_checked()) {
        error = errno_text(temp);
        return give_up(replace_outcome::failed);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        error = errno_text(path);
        return give_up(replace_outcome::failed);
    }
    return replace_outcome::done;
}

}  // namespace

std::uint64_t max_input_bytes() {
    const char* text = std::getenv(std::string(max_input_variable).c_str());
    if (text == nullptr) return default_max_input_bytes;
    std::uint64_t value = 0;
    const char* end = text + std::strlen(text);
    const auto [at, ec] = std::from_chars(text, end, value);
    if (ec != std::errc() || at != end || value == 0) return default_max_input_bytes;
    return value;
}

file_read read_input_file(const std::string& path, std::uint64_t limit) {
    file_read result;
    try {
        // Checked before opening: opening a device can itself do something.
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            result.error = errno_text(path);
            return result;
        }
        if (!S_ISREG(st.st_mode)) {
            result.error = path + ": not a regular file";
            return result;
        }
        const std::string too_large = path + ": larger than the limit of " + std::to_string(limit) +
                                      " bytes (" + std::string(max_input_variable) + ")";
        if (static_cast<std::uint64_t>(st.st_size) > limit) {
            result.error = too_large;
            return result;
        }
        // Non-blocking: should a FIFO have taken the file's place, opening it must not hang.
        fd_owner f(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (f.fd < 0 || ::fstat(f.fd, &st) != 0) {
            result.error = errno_text(path);
            return result;
        }
        if (!S_ISREG(st.st_mode)) {
            result.error = path + ": not a regular file";
            return result;
        }
        result.data.reserve(static_cast<std::size_t>(st.st_size));
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(f.fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                result.error = errno_text(path);
                break;
            }
            if (n == 0) break;
            // The file may have grown since it was measured.
            if (result.data.size() + static_cast<std::size_t>(n) > limit) {
                result.error = too_large;
                break;
            }
            result.data.append(buffer, static_cast<std::size_t>(n));
        }
    } catch (const std::bad_alloc&) {
        result.error = path + ": out of memory";
    }
    if (!result.error.empty()) std::string().swap(result.data);
    return result;
}

std::string write_output_file(const std::string& path, std::string_view data) {
    if (!path.starts_with('/')) return path + ": not an absolute path";
    std::string error;
    const std::string target = follow_links(path, error);
    if (target.empty()) return error;
    remove_stale_temps(folder_of(target), name_of(target));
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) {
        if (errno != ENOENT) return errno_text(target);
        return replace_atomically(target, nullptr, data, error) == replace_outcome::done
                   ? std::string()
                   : error;
    }
    if (!S_ISREG(st.st_mode)) return target + ": not a regular file; left untouched";
    if (st.st_nlink > 1 || st.st_uid != ::geteuid()) return write_in_place(target, st, data);
    switch (replace_atomically(target, &st, data, error)) {
        case replace_outcome::done:
            return {};
        case replace_outcome::needs_in_place:
            return write_in_place(target, st, data);
        case replace_outcome::failed:
            break;
    }
    return error;
}

std::string write_unique_file(const std::string& dir, std::string_view prefix,
                              std::string_view suffix, std::string_view data, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = dir + ": " + ec.message();
        return {};
    }
    const std::string path =
        dir + "/" + std::string(prefix) + "-" + unique_part() + std::string(suffix);
    // O_EXCL: never reuse or follow a name someone else holds.
    fd_owner f(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (f.fd < 0) {
        error = errno_text(path);
        return {};
    }
    if (!write_all(f.fd, data) || !f.close_checked()) {
        error = path + ": write failed";
        ::unlink(path.c_str());
        return {};
    }
    error.clear();
    return path;
}

}  // namespace zorv

// The POSIX output writer: rename over the old file where that keeps what the file is,
// in place (with its room taken first) where it does not.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/file_save.h"
#include "platform/unique_fd_posix.h"

namespace platform {

namespace {

constexpr int max_link_hops = 40;  // as the kernel's own limit on a path's links

// Temporary files of this process are never older than this; older ones of ours were
// left by a run that was killed. File times come from the kernel's coarse clock, so the
// start is read from it too: a file written a moment after start must not look older.
const std::timespec process_start = [] {
    std::timespec t{};
    clock_gettime(CLOCK_REALTIME_COARSE, &t);
    return t;
}();

bool older_than_start(const struct stat& st) {
    return st.st_mtim.tv_sec < process_start.tv_sec || (st.st_mtim.tv_sec == process_start.tv_sec &&
                                                        st.st_mtim.tv_nsec < process_start.tv_nsec);
}

std::string errno_text(const std::string& path) { return path + ": " + std::strerror(errno); }

std::string folder_of(const std::string& path) {
    return split_folder(path, path_style::posix).folder;
}

std::string name_of(const std::string& path) { return split_folder(path, path_style::posix).name; }

// The kernel's protected_symlinks rule, kept whether or not the kernel keeps it: in a sticky
// folder that every user may write, a link is followed only when it belongs to us or to the
// folder's owner, since anyone else's link there may have been planted to redirect our write.
bool may_follow(const struct stat& link, const struct stat& folder) {
    constexpr mode_t shared = S_ISVTX | S_IWOTH;
    return (folder.st_mode & shared) != shared || link.st_uid == ::geteuid() ||
           link.st_uid == folder.st_uid;
}

std::vector<std::string> components_of(std::string_view path) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        if (slash > start) out.emplace_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return out;
}

// The path that a write to path lands on, resolved here rather than by the kernel so that
// every symbolic link on the way, in a folder of the path as much as at its end, is
// checked by may_follow (the kernel checks only when fs.protected_symlinks is set). The
// result holds no link; its last part need not exist yet. Empty with error set for a loop,
// an unreadable link or one that may not be followed.
std::string resolve_for_write(const std::string& path, std::string& error) {
    std::vector<std::string> todo = components_of(path);
    std::reverse(todo.begin(), todo.end());  // the next component at the back
    std::string done;                        // "" stands for the root
    int hops = 0;
    while (!todo.empty()) {
        const std::string part = std::move(todo.back());
        todo.pop_back();
        if (part == ".") continue;
        if (part == "..") {
            done.resize(done.empty() ? 0 : done.rfind('/'));
            continue;
        }
        const std::string folder = done.empty() ? "/" : done;
        const std::string next = done + "/" + part;
        // The link is checked and read through one descriptor: what was checked is what is
        // read. Anything that is not there or not a link is the kernel's to judge later.
        const unique_fd link(::open(next.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (!link.valid() || ::fstat(link.get(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            done = next;
            continue;
        }
        if (++hops > max_link_hops) {
            error = path + ": too many levels of symbolic links";
            return {};
        }
        struct stat holder {};
        if (::stat(folder.c_str(), &holder) != 0) {
            error = errno_text(folder);
            return {};
        }
        if (!may_follow(st, holder)) {
            error = next +
                    ": a symbolic link of another user in a sticky folder that all may write; "
                    "not followed, nothing written";
            return {};
        }
        std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = ::readlinkat(link.get(), "", target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
            error = next + ": cannot read the symbolic link";
            return {};
        }
        const std::string_view to(target.data(), static_cast<std::size_t>(n));
        if (to.starts_with('/')) done.clear();
        const std::vector<std::string> more = components_of(to);
        todo.insert(todo.end(), more.rbegin(), more.rend());
    }
    return done.empty() ? "/" : done;
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
    unique_fd f(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!f.valid()) return errno_text(path);
    struct stat st {};
    if (::fstat(f.get(), &st) != 0) return errno_text(path);
    if (!S_ISREG(st.st_mode) || st.st_ino != expected.st_ino || st.st_dev != expected.st_dev)
        return path + ": changed while it was being written";
    if (std::string error = reserve_room(f.get(), path, st.st_size, data); !error.empty())
        return error;
    const std::string_view front =
        data.substr(0, std::min(data.size(), static_cast<std::size_t>(st.st_size)));
    if (!pwrite_all(f.get(), front, 0) ||
        ::ftruncate(f.get(), static_cast<off_t>(data.size())) != 0)
        return errno_text(path) + " (written in place: the file may be incomplete)";
    if ((st.st_mode & set_id_bits) != 0 &&
        ::fchmod(f.get(), st.st_mode & 07777 & ~set_id_bits) != 0)
        return errno_text(path);
    if (::fsync(f.get()) != 0 || !f.close_checked()) return errno_text(path);
    return {};
}

enum class replace_outcome { done, failed, needs_in_place };

// Writes data to a new temporary file beside path and renames it over path. old is the
// file it replaces, null for a new file.
replace_outcome replace_atomically(const std::string& path, const struct stat* old,
                                   std::string_view data, std::string& error) {
    const std::string temp =
        folder_of(path) + "/" + temp_name_for(name_of(path), unique_name_part());
    unique_fd f(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!f.valid()) {
        // A file of ours in a folder we may not write: nothing can be made beside it, but
        // the file itself can still be written.
        if (old != nullptr && (errno == EACCES || errno == EPERM))
            return replace_outcome::needs_in_place;
        error = errno_text(temp);
        return replace_outcome::failed;
    }
    const auto give_up = [&](replace_outcome outcome) {
        (void)f.close_checked();
        ::unlink(temp.c_str());
        return outcome;
    };
    if (old != nullptr) {
        // A group we cannot give the new file is kept by writing the old one in place.
        if (old->st_gid != ::getegid() &&
            ::fchown(f.get(), static_cast<uid_t>(-1), old->st_gid) != 0)
            return give_up(replace_outcome::needs_in_place);
        if (::fchmod(f.get(), old->st_mode & 07777 & ~set_id_bits) != 0) {
            error = errno_text(temp);
            return give_up(replace_outcome::failed);
        }
    }
    if (!write_all(f.get(), data.data(), data.size()) || ::fsync(f.get()) != 0 ||
        !f.close_checked()) {
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

std::string save_file(const std::string& path, std::string_view data) {
    if (const std::string problem = output_name_problem(path, path_style::posix); !problem.empty())
        return path + ": " + problem + "; nothing written";
    std::string error;
    const std::string target = resolve_for_write(path, error);
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

}  // namespace platform

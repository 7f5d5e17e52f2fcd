#include "common/work_dir.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "common/login_name.h"
#include "platform/files.h"
#include "runtime/product_runtime.h"

namespace common {

namespace {

constexpr std::string_view work_dir_suffix = ".trelmerge";
constexpr int tmpdir_buffer_size = 4096;

// Written once at start-up, before any other thread exists; read afterwards.
std::string work_dir;
std::string log_path;

}  // namespace

std::string compose_work_dir(std::string_view tmpdir, std::string_view login,
                             platform::path_style style) {
    std::string dir(tmpdir);
    dir += platform::separator(style);
    dir += login;
    dir += work_dir_suffix;
    return dir;
}

bool setup_work_dir() {
    char buffer[tmpdir_buffer_size] = {};
    fileutl_get_tmpdir(0, buffer, tmpdir_buffer_size, 0);
    buffer[tmpdir_buffer_size - 1] = '\0';
    const std::string tmpdir = buffer;
    const std::string login = login_name();
    work_dir = tmpdir;
    if (tmpdir.empty()) return false;
    work_dir = compose_work_dir(tmpdir, login, platform::native_path_style());
    if (unix_nt_mkdir(work_dir.c_str(), 0) != 0 && errno != EEXIST) return false;
    // The temporary directory is shared: a directory someone else made or opened under
    // our name could be read or swapped under us.
    return platform::is_private_directory(work_dir);
}

std::string get_work_dir() { return work_dir; }

std::string work_file_path(std::string_view name) {
    return platform::join_path(work_dir, name, platform::native_path_style());
}

void open_log_file(std::string_view name) {
    // Without a work directory the name would land in the root folder; the lines go to
    // standard output instead.
    if (work_dir.empty()) {
        log_path.clear();
        return;
    }
    log_path = work_file_path(name);
    (void)platform::write_private_file(log_path, "", platform::file_open::truncate);
}

void write_log_line(std::string_view text) {
    std::string line(text);
    line += '\n';
    // One write per line keeps lines of concurrent callers whole.
    if (!log_path.empty() &&
        platform::write_private_file(log_path, line, platform::file_open::append)) {
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace common

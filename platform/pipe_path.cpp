// Where a pipe name lives as a Unix-domain socket. Pure, so it is tested on every platform.
#include <cctype>

#include "platform/pipe.h"

namespace platform {

namespace {

constexpr std::string_view pipe_prefix = R"(\\.\pipe\)";

bool has_pipe_prefix(std::string_view name) {
    if (name.size() < pipe_prefix.size()) return false;
    for (std::size_t i = 0; i < pipe_prefix.size(); ++i) {
        const auto a = static_cast<unsigned char>(name[i]);
        const auto b = static_cast<unsigned char>(pipe_prefix[i]);
        if (std::tolower(a) != std::tolower(b)) return false;
    }
    return true;
}

}  // namespace

std::string pipe_socket_path(std::string_view name, std::string_view dir) {
    if (dir.empty() || !has_pipe_prefix(name)) return {};
    std::string file(name.substr(pipe_prefix.size()));
    // A "/" would leave the pipe directory, and a line feed could not be told apart from
    // the next entry of the kernel's socket table.
    if (file.find_first_of(std::string_view("/\n\0", 3)) != std::string::npos) return {};
    for (char& c : file) {
        if (c == '\\') c = '.';
    }
    if (file.empty() || file == "." || file == "..") return {};
    std::string path(dir);
    if (path.back() != '/') path += '/';
    path += file;
    if (path.size() > max_pipe_socket_path) return {};
    return path;
}

}  // namespace platform

#include "platform/path_style.h"

namespace platform {

path_style native_path_style() {
#ifdef _WIN32
    return path_style::windows;
#else
    return path_style::posix;
#endif
}

char separator(path_style style) { return style == path_style::windows ? '\\' : '/'; }

std::string join_path(std::string_view dir, std::string_view name, path_style style) {
    std::string path;
    path.reserve(dir.size() + 1 + name.size());
    path += dir;
    path += separator(style);
    path += name;
    return path;
}

std::string program_file(std::string_view base, path_style style) {
    std::string file(base);
    if (style == path_style::windows) file += ".exe";
    return file;
}

bool is_unc_path(std::string_view s) { return s.size() > 2 && s[0] == '\\' && s[1] == '\\'; }

std::string drive_designation(std::string_view dir) {
    if (dir.size() >= 2 && dir[1] == ':') {
        const char letter = dir[0];
        if ((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) {
            return std::string(dir.substr(0, 2));
        }
    }
    return "";
}

namespace {

void resolve_windows(std::string& name, std::string_view cwd, const drive_lookup& get_drive) {
    // A drive-letter name, with or without a separator after the colon.
    if (name.find(':') == 1) return;
    if (is_unc_path(name)) return;
    if (name[0] == '\\') {
        if (is_unc_path(cwd)) {
            name.insert(0, cwd);
        } else if (get_drive) {
            name.insert(0, get_drive(cwd));
        }
        return;
    }
    // Without a current directory a relative name would turn into a rooted one on
    // whatever drive is current; left relative it still means what the user typed.
    if (cwd.empty()) return;
    name.insert(0, 1, '\\');
    name.insert(0, cwd);
}

void resolve_posix(std::string& name, std::string_view cwd) {
    if (name[0] == '/') return;
    if (cwd.empty()) return;
    if (cwd.back() != '/') name.insert(0, 1, '/');
    name.insert(0, cwd);
}

}  // namespace

void resolve_path(std::string& name, std::string_view cwd, path_style style,
                  const drive_lookup& get_drive) {
    // Callers reject empty names before; there is nothing to anchor.
    if (name.empty()) return;
    if (style == path_style::windows) {
        resolve_windows(name, cwd, get_drive);
    } else {
        resolve_posix(name, cwd);
    }
}

}  // namespace platform

// The rules of output names and temporary files that both platforms share; pure but for
// unique_name_part.
#include "platform/file_save.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/process.h"

namespace platform {

namespace {

constexpr std::string_view temp_suffix = ".tmp";

char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool is_separator(char c, path_style style) {
    return c == '/' || (style == path_style::windows && c == '\\');
}

bool is_drive_root(std::string_view s) {
    return s.size() >= 3 && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z')) &&
           s[1] == ':' && (s[2] == '\\' || s[2] == '/');
}

// Names that Windows takes for a device in any folder, whatever follows a dot: "nul.txt"
// is NUL. The superscript digits are those of the Windows code pages.
bool is_device_name(std::string_view name) {
    name = name.substr(0, name.find('.'));
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    std::string upper;
    for (const char c : name) upper += ascii_upper(c);
    for (const std::string_view device :
         {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"}) {
        if (upper == device) return true;
    }
    if (upper.size() != 4 || (!upper.starts_with("COM") && !upper.starts_with("LPT"))) return false;
    const char digit = upper[3];
    return (digit >= '0' && digit <= '9') || digit == '\xB9' || digit == '\xB2' || digit == '\xB3';
}

// How many leading characters of an absolute Windows path make its root ("C:\",
// "\\server\share", "\\?\C:\", "\\?\UNC\server\share"); 0 when it has none we write under.
std::size_t windows_root_length(std::string_view p, std::string& problem) {
    const auto sep = [](char c) { return c == '\\' || c == '/'; };
    if (is_drive_root(p)) return 3;
    if (p.size() < 3 || !sep(p[0]) || !sep(p[1])) {
        problem = "not an absolute path";
        return 0;
    }
    if ((p[2] == '.' || p[2] == '?') && (p.size() == 3 || sep(p[3]))) {
        // \\?\ is a long path when a drive or UNC follows; anything else there, and all of
        // \\.\, is the device namespace.
        const std::string_view rest = p.substr(std::min<std::size_t>(4, p.size()));
        if (p[2] == '?' && is_drive_root(rest)) return 7;
        std::string head;
        for (const char c : rest.substr(0, 4)) head += ascii_upper(c);
        if (p[2] == '?' && head.size() == 4 && head.starts_with("UNC") && sep(head[3])) {
            return 8;
        }
        problem = "a device path";
        return 0;
    }
    return 2;
}

}  // namespace

std::string output_name_problem(std::string_view path, path_style style) {
    if (style == path_style::posix) return path.starts_with('/') ? "" : "not an absolute path";
    std::string problem;
    const std::size_t root = windows_root_length(path, problem);
    if (root == 0) return problem;
    if (path.find(':', root) != std::string_view::npos) return "names a stream of a file";
    const split_path parts = split_folder(path, style);
    if (parts.name.empty()) return "names a folder";
    if (is_device_name(parts.name)) return "a device name";
    return {};
}

bool is_windows_device(std::string_view path) {
    std::string problem;
    if (windows_root_length(path, problem) == 0 && problem == "a device path") return true;
    return is_device_name(split_folder(path, path_style::windows).name);
}

split_path split_folder(std::string_view path, path_style style) {
    std::size_t last = path.size();
    for (std::size_t i = path.size(); i-- > 0;) {
        if (is_separator(path[i], style)) {
            last = i;
            break;
        }
    }
    if (last == path.size()) return {".", std::string(path)};
    std::string folder(path.substr(0, last));
    // The root folder keeps its separator: "/" or "C:\".
    if (folder.empty() || (style == path_style::windows && folder.size() == 2 && folder[1] == ':'))
        folder += path[last];
    return {folder, std::string(path.substr(last + 1))};
}

std::string temp_name_for(std::string_view name, std::string_view unique) {
    std::string out = ".";
    out += name;
    out += '.';
    out += unique;
    out += temp_suffix;
    return out;
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

std::string unique_name_part() {
    static std::atomic<unsigned> counter{0};
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    return std::to_string(ms) + "-" + std::to_string(current_process_id()) + "-" +
           std::to_string(counter.fetch_add(1));
}

}  // namespace platform

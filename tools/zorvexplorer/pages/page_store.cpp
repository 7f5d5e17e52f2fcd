#include "tools/zorvexplorer/pages/page_store.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "platform/folder.h"
#include "platform/path_style.h"
#include "tools/zorvexplorer/diff/sha256.h"
#include "tools/zorvexplorer/files/file_io.h"

namespace zorv {

namespace {

constexpr const char* keep_variable = "VARNEX_CLIENT_KEEP_PAGES";
constexpr const char* age_variable = "VARNEX_CLIENT_KEEP_PAGE_SECONDS";

// A positive number from the environment, or fallback.
std::uint64_t positive_from_environment(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr) return fallback;
    std::uint64_t value = 0;
    const char* end = text + std::strlen(text);
    const auto [at, ec] = std::from_chars(text, end, value);
    return ec == std::errc() && at == end && value > 0 ? value : fallback;
}

bool is_page_name(std::string_view name) {
    return name.size() > compare_page_prefix.size() + 1 + compare_page_suffix.size() &&
           name.starts_with(compare_page_prefix) && name[compare_page_prefix.size()] == '-' &&
           name.ends_with(compare_page_suffix);
}

bool newer(const platform::own_file& a, const platform::own_file& b) {
    if (a.modified != b.modified) return a.modified > b.modified;
    return a.name > b.name;
}

}  // namespace

page_limits page_limits_from_environment() {
    page_limits limits;
    limits.keep = static_cast<std::size_t>(positive_from_environment(keep_variable, limits.keep));
    limits.max_age =
        std::chrono::seconds(static_cast<std::chrono::seconds::rep>(positive_from_environment(
            age_variable, static_cast<std::uint64_t>(limits.max_age.count()))));
    return limits;
}

std::size_t prune_pages(const std::string& dir, const page_limits& limits) {
    std::vector<platform::own_file> pages = platform::own_files_in(dir);
    std::erase_if(pages, [](const platform::own_file& f) { return !is_page_name(f.name); });
    std::sort(pages.begin(), pages.end(), newer);
    const auto oldest_kept = std::chrono::system_clock::now() - limits.max_age;
    std::size_t removed = 0;
    for (std::size_t k = 0; k < pages.size(); ++k) {
        if (k < limits.keep && pages[k].modified >= oldest_kept) continue;
        // Another request may prune at the same time; a page already gone is fine.
        if (platform::remove_file(dir, pages[k].name)) ++removed;
    }
    return removed;
}

namespace {

constexpr std::size_t shared_script_digits = 16;
constexpr std::string_view temporary_suffix = ".tmp";

bool is_shared_script_name(std::string_view name) {
    if (!name.starts_with(shared_script_prefix) || !name.ends_with(shared_script_suffix))
        return false;
    name.remove_prefix(shared_script_prefix.size());
    name.remove_suffix(shared_script_suffix.size());
    return name.size() == shared_script_digits &&
           name.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// keep_shared_script's temporary files: "<script name>-<unique>.tmp".
bool is_shared_temporary_name(std::string_view name) {
    return name.starts_with(shared_script_prefix) && name.ends_with(temporary_suffix) &&
           is_shared_script_name(name.substr(0, name.find('-', shared_script_prefix.size())));
}

// The shared script that a page's first bytes name; empty when none.
std::string script_named_in(const std::string& dir, std::string_view page) {
    const std::string head = platform::file_head(dir, page, shared_script_reach);
    constexpr std::string_view source = "src=\"";
    const std::size_t at = head.find(std::string(source) + std::string(shared_script_prefix));
    if (at == std::string::npos) return {};
    const std::size_t from = at + source.size();
    const std::size_t end = head.find('"', from);
    if (end == std::string::npos) return {};
    std::string name = head.substr(from, end - from);
    return is_shared_script_name(name) ? name : std::string();
}

}  // namespace

std::string shared_script_name(std::string_view script) {
    return std::string(shared_script_prefix) + sha256_hex(script).substr(0, shared_script_digits) +
           std::string(shared_script_suffix);
}

std::string shared_script_element(std::string_view name) {
    return "<script src=\"" + std::string(name) + "\"></script>";
}

std::string keep_shared_script(const std::string& dir, std::string_view name,
                               std::string_view script) {
    // The platform's folder calls, as for the pages: names in the client's own encoding.
    const std::string path = platform::join_path(dir, name, platform::native_path_style());
    // A file that holds more than the script is not it: read no further.
    if (const file_read present = read_input_file(path, script.size());
        present.error.empty() && present.data == script) {
        // Renewed, so that no prune takes it from a page about to refer to it.
        platform::renew_file(dir, name);
        return {};
    }
    std::string error;
    const std::string temporary =
        write_unique_file(dir, std::string(name), temporary_suffix, script, error);
    if (temporary.empty()) return error;
    const std::string temporary_name = temporary.substr(temporary.find_last_of("/\\") + 1);
    if (!platform::replace_file(dir, temporary_name, name)) {
        platform::remove_file(dir, temporary_name);
        return path + ": cannot be replaced";
    }
    return {};
}

std::size_t prune_shared_scripts(const std::string& dir, std::chrono::seconds fresh) {
    // The platform's folder calls, as for the pages: names in the client's own encoding.
    std::vector<platform::own_file> pages, scripts, temporaries;
    for (platform::own_file& file : platform::own_files_in(dir)) {
        if (is_page_name(file.name)) {
            pages.push_back(std::move(file));
        } else if (is_shared_script_name(file.name)) {
            scripts.push_back(std::move(file));
        } else if (is_shared_temporary_name(file.name)) {
            temporaries.push_back(std::move(file));
        }
    }
    if (scripts.empty() && temporaries.empty()) return 0;
    std::set<std::string> named;
    for (const platform::own_file& page : pages) named.insert(script_named_in(dir, page.name));
    const auto oldest_kept = std::chrono::system_clock::now() - fresh;
    std::size_t removed = 0;
    for (const platform::own_file& script : scripts) {
        if (named.count(script.name) == 0 && script.modified < oldest_kept &&
            platform::remove_file(dir, script.name))
            ++removed;
    }
    for (const platform::own_file& temporary : temporaries) {
        if (temporary.modified < oldest_kept && platform::remove_file(dir, temporary.name))
            ++removed;
    }
    return removed;
}

}  // namespace zorv

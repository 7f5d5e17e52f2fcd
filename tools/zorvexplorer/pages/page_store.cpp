#include "tools/zorvexplorer/pages/page_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

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

struct page {
    std::string name;
    std::timespec modified;
};

bool newer(const page& a, const page& b) {
    if (a.modified.tv_sec != b.modified.tv_sec) return a.modified.tv_sec > b.modified.tv_sec;
    if (a.modified.tv_nsec != b.modified.tv_nsec) return a.modified.tv_nsec > b.modified.tv_nsec;
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
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return 0;
    std::vector<page> pages;
    while (const dirent* e = ::readdir(d)) {
        if (!is_page_name(e->d_name)) continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
            pages.push_back({e->d_name, st.st_mtim});
        }
    }
    std::sort(pages.begin(), pages.end(), newer);
    const std::time_t oldest_kept = std::time(nullptr) - limits.max_age.count();
    std::size_t removed = 0;
    for (std::size_t k = 0; k < pages.size(); ++k) {
        if (k < limits.keep && pages[k].modified.tv_sec >= oldest_kept) continue;
        // Another request may prune at the same time; a page already gone is fine.
        if (::unlinkat(::dirfd(d), pages[k].name.c_str(), 0) == 0) ++removed;
    }
    ::closedir(d);
    return removed;
}

}  // namespace zorv

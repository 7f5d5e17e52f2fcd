// The folder of compare pages and how many of them are kept.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace zorv {

/// Pages are written to <work dir>/compare/compare-<unique>.html.
inline constexpr std::string_view compare_folder = "compare";
inline constexpr std::string_view compare_page_prefix = "compare";
inline constexpr std::string_view compare_page_suffix = ".html";

struct page_limits {
    std::size_t keep = 200;  // the newest pages kept
    std::chrono::seconds max_age = std::chrono::hours(24 * 7);
};

/// The limits, with VARNEX_CLIENT_KEEP_PAGES (a count of at least 1) and
/// VARNEX_CLIENT_KEEP_PAGE_SECONDS (at least 1) replacing the defaults when they hold a
/// number.
page_limits page_limits_from_environment();

/// Removes the compare pages in dir (regular files of ours named as above) that are older
/// than limits.max_age or not among the limits.keep newest. How many were removed.
std::size_t prune_pages(const std::string& dir, const page_limits& limits);

}  // namespace zorv

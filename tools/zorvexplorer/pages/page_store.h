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

/// Pages that colour their text share one script, written once beside them as
/// "syntax-<the first 16 hex digits of its SHA-256>.js": a client with another script
/// writes another file, and each page keeps the one it was written with.
inline constexpr std::string_view shared_script_prefix = "syntax-";
inline constexpr std::string_view shared_script_suffix = ".js";
/// A shared script not written or kept for this long may go once no page refers to it; a
/// page being written may be about to refer to a younger one.
inline constexpr std::chrono::seconds shared_script_fresh = std::chrono::minutes(10);
/// A page names its shared script within its first this many bytes.
inline constexpr std::size_t shared_script_reach = 512;

/// The shared script's file name for its bytes.
std::string shared_script_name(std::string_view script);

/// The element by which a page loads the shared script name; written within the page's
/// first shared_script_reach bytes.
std::string shared_script_element(std::string_view name);

/// Makes sure dir holds the shared script name with exactly script's bytes. A file that
/// holds them stays, marked fresh; anything else is replaced by a new file, written whole
/// first (readable by its owner only) and renamed into place. The reason it failed, empty
/// when the script stands there.
[[nodiscard]] std::string keep_shared_script(const std::string& dir, std::string_view name,
                                             std::string_view script);

/// Removes the shared scripts in dir that no compare page there names and that are older
/// than fresh, and the temporary files of them a killed client left (older than fresh).
/// How many files were removed.
std::size_t prune_shared_scripts(const std::string& dir,
                                 std::chrono::seconds fresh = shared_script_fresh);

}  // namespace zorv

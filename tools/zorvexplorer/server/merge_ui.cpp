#include "tools/zorvexplorer/server/merge_ui.h"

#include <charconv>
#include <filesystem>
#include <string_view>

#include "platform/path_style.h"
#include "tools/zorvexplorer/files/file_io.h"
#include "tools/zorvexplorer/pages/html_escape.h"

namespace zorv {

merge_ui merge_ui_for(const char* setting, bool desktop_session) {
    const std::string_view s = setting ? setting : "";
    if (s == "none") return merge_ui::none;
    if (s == "browser") return merge_ui::browser;
    return desktop_session ? merge_ui::browser : merge_ui::none;
}

std::chrono::milliseconds heartbeat_limit_for(const char* setting) {
    constexpr std::chrono::milliseconds standard{15000};
    const std::string_view s = setting ? setting : "";
    long long ms = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), ms);
    if (ec != std::errc() || end != s.data() + s.size() || ms <= 0) return standard;
    return std::chrono::milliseconds(ms);
}

std::string merge_page_launcher(const std::string& url) {
    const std::string u = html_escape(url);
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
           "<meta http-equiv=\"refresh\" content=\"0;url=" +
           u +
           "\"><title>Merge</title>"
           "</head><body><a href=\"" +
           u + "\">Open the merge page</a></body></html>\n";
}

conflict_resolver merge_page_resolver(std::string work_dir, merge_session_options options) {
    return [work_dir = std::move(work_dir), options = std::move(options)](
               const merge_result& merged, const std::string& output, const output_writer& save,
               merge_cancel& cancel) {
        merge_session_options session = options;
        session.cancel = &cancel;
        std::string launcher;
        session.open_page = [&](const std::string& url) {
            if (!work_dir.empty()) {
                std::string error;
                launcher = write_unique_file(
                    platform::join_path(work_dir, "merge", platform::native_path_style()), "merge",
                    ".html", merge_page_launcher(url), error);
                if (launcher.empty() && options.log)
                    options.log("no merge page launcher: " + error);
            }
            return options.open_page && options.open_page(launcher.empty() ? url : launcher);
        };
        merge_session_result result = run_merge_session(merged, output, save, session);
        std::error_code ignored;
        if (!launcher.empty()) std::filesystem::remove(launcher, ignored);
        return result;
    };
}

}  // namespace zorv

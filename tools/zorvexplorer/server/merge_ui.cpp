#include "tools/zorvexplorer/server/merge_ui.h"

#include <charconv>
#include <string_view>

#include "platform/file_save.h"
#include "platform/folder.h"
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

namespace {

std::chrono::milliseconds milliseconds_or(const char* setting, std::chrono::milliseconds standard) {
    const std::string_view s = setting ? setting : "";
    long long ms = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), ms);
    if (ec != std::errc() || end != s.data() + s.size() || ms <= 0) return standard;
    return std::chrono::milliseconds(ms);
}

std::string launcher_folder(const std::string& work_dir) {
    return platform::join_path(work_dir, merge_launcher_folder, platform::native_path_style());
}

}  // namespace

std::chrono::milliseconds heartbeat_limit_for(const char* setting) {
    return milliseconds_or(setting, std::chrono::milliseconds(15000));
}

std::chrono::milliseconds open_limit_for(const char* setting) {
    return milliseconds_or(setting, std::chrono::milliseconds(120000));
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
            std::string error = "no work directory";
            if (!work_dir.empty()) {
                launcher =
                    write_unique_file(launcher_folder(work_dir), merge_launcher_prefix,
                                      merge_launcher_suffix, merge_page_launcher(url), error);
            }
            if (launcher.empty()) {
                // The URL itself would stand on the browser's command line, where every
                // local user reads it: no page then.
                if (options.log) options.log("no merge page launcher: " + error);
                return false;
            }
            return options.open_page && options.open_page(launcher);
        };
        merge_session_result result = run_merge_session(merged, output, save, session);
        if (!launcher.empty()) {
            // Through the platform, which reads the name in the system's code page.
            const platform::split_path where =
                platform::split_folder(launcher, platform::native_path_style());
            (void)platform::remove_file(where.folder, where.name);
        }
        return result;
    };
}

std::size_t prune_merge_launchers(const std::string& work_dir,
                                  std::chrono::milliseconds older_than) {
    if (work_dir.empty()) return 0;
    const std::string folder = launcher_folder(work_dir);
    const auto before = std::chrono::system_clock::now() - older_than;
    std::size_t removed = 0;
    // Regular files of ours only: no link, folder or other user's file is touched.
    for (const platform::own_file& f : platform::own_files_in(folder)) {
        if (!f.name.starts_with(std::string(merge_launcher_prefix) + "-") ||
            !f.name.ends_with(merge_launcher_suffix) || f.modified >= before)
            continue;
        if (platform::remove_file(folder, f.name)) ++removed;
    }
    return removed;
}

}  // namespace zorv

// zorvexplorer: the graphical client that the relay service starts. Serves compare and
// merge requests until the service goes away.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/version.h"
#include "common/work_dir.h"
#include "platform/files.h"
#include "platform/path_style.h"
#include "platform/process.h"
#include "tools/desktop/desktop.h"
#include "tools/zorvexplorer/pages/page_store.h"
#include "tools/zorvexplorer/request_handler.h"
#include "tools/zorvexplorer/server/merge_ui.h"
#include "tools/zorvexplorer/transport/pipe_client.h"

namespace {

constexpr std::string_view client_log_name = "zorvexplorer.log";

std::string log_path;  // written before any pair thread starts

void log_line(std::string_view text) {
    std::string line(text);
    line += '\n';
    // One append per line keeps lines of concurrent requests whole.
    if (log_path.empty() ||
        !platform::write_private_file(log_path, line, platform::file_open::append)) {
        std::fputs(("zorvexplorer: " + line).c_str(), stderr);
    }
}

void show_page(const std::string& path) {
    if (desktop::open_on_desktop(path)) {
        log_line("compare page opened: " + path);
    } else {
        log_line("compare page written (no desktop to show it): " + path);
    }
}

// Pair threads may still be serving and reading the context and the log path: end the
// process without running static destructors under them.
[[noreturn]] void quit(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string wrapper = zorv::wrapper_pipe_from_args(args);
    if (wrapper.empty()) {
        std::fprintf(stderr, "zorvexplorer: no wrapper pipe given (%.*sNAME)\n",
                     static_cast<int>(zorv::wrapper_pipe_property.size()),
                     zorv::wrapper_pipe_property.data());
        return 2;
    }
    // Every compare starts a page opener that is never waited for.
    platform::reap_children_automatically();
    static zorv::client_context context;
    if (common::setup_work_dir()) {
        context.work_dir = common::get_work_dir();
        log_path = common::work_file_path(client_log_name);
    } else {
        std::fprintf(stderr, "zorvexplorer: cannot set up the work directory\n");
    }
    context.log = log_line;
    context.show_page = show_page;
    context.pages = zorv::page_limits_from_environment();
    if (!context.work_dir.empty()) {
        const std::string pages = platform::join_path(context.work_dir, zorv::compare_folder,
                                                      platform::native_path_style());
        zorv::prune_pages(pages, context.pages);
        zorv::prune_shared_scripts(pages);
        // Launchers left by a client that was killed; a page still opening has a younger one.
        zorv::prune_merge_launchers(context.work_dir,
                                    zorv::open_limit_for(std::getenv("ZORV_MERGE_OPEN_MS")));
    }
    if (zorv::merge_ui_for(std::getenv("ZORV_MERGE_UI"), desktop::desktop_session()) ==
        zorv::merge_ui::browser) {
        zorv::merge_session_options merge_page;
        merge_page.heartbeat_limit =
            zorv::heartbeat_limit_for(std::getenv("ZORV_MERGE_HEARTBEAT_MS"));
        merge_page.open_limit = zorv::open_limit_for(std::getenv("ZORV_MERGE_OPEN_MS"));
        merge_page.open_page = desktop::open_in_browser;
        merge_page.log = log_line;
        context.resolve_conflicts = zorv::merge_page_resolver(context.work_dir, merge_page);
    }
    static const zorv::pair_handler handler{
        [](std::string_view message, zorv::merge_cancel& cancel) {
            return zorv::serve_message(message, context, &cancel);
        },
        log_line};
    // The version tells, after an upgrade, which client served.
    log_line("zorvexplorer " + std::string(common::product_version()) + " serving " + wrapper);
    if (!zorv::run_client(wrapper, handler)) {
        log_line("cannot open the wrapper pipe " + wrapper);
        quit(1);
    }
    log_line("the service has gone; quitting");
    quit(0);
}

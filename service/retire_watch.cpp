#include "service/retire_watch.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

#include "common/product_dir.h"
#include "common/version.h"
#include "common/work_dir.h"
#include "platform/file_watch.h"
#include "platform/path_style.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "service/client_launch.h"
#include "service/service_state.h"

namespace service {

namespace {

constexpr std::size_t watch_stack_size = 64 * 1024;
// Where the system offers no change notices, the files are looked at this often.
constexpr std::uint32_t look_again_ms = 2000;
// How long the accept loop must have waited, with no relay in flight, before the service
// ends: a front end that connected just before the pipe's file went is still queued on
// the listening socket, and the loop takes it within microseconds of its arrival.
constexpr auto settle_time = std::chrono::milliseconds(250);

// Odd while the accept loop waits for a front end; every change moves it on.
std::atomic<std::uint64_t> accept_phase{0};

struct watched_file {
    std::string folder;
    std::string path;
    std::optional<platform::file_identity> identity;
};

struct watch_setup {
    std::vector<watched_file> files;
};

bool any_changed(const std::vector<watched_file>& files) {
    for (const watched_file& f : files) {
        if (platform::identify_file(f.path) != f.identity) return true;
    }
    return false;
}

// The pid file names this process only while it serves; the next front end then starts a
// service instead of waiting for this one's pipe.
void remove_own_pid_file() {
    const std::string path = common::work_file_path(common::pid_file_name);
    std::ifstream in(path);
    long long pid = -1;
    if (!(in >> pid) || pid != static_cast<long long>(platform::current_process_id())) return;
    in.close();
    (void)std::remove(path.c_str());
}

void wait_until_settled() {
    relay_counter& in_flight = the_service().relays_in_flight;
    for (;;) {
        while (!in_flight.wait_until_none(std::chrono::hours(1))) {
        }
        const std::uint64_t phase = accept_phase.load();
        std::this_thread::sleep_for(settle_time);
        if (phase % 2 == 1 && accept_phase.load() == phase &&
            in_flight.wait_until_none(std::chrono::milliseconds(0))) {
            return;
        }
    }
}

void retire(std::string_view why) {
    std::string line = "zorv_service ";
    line += common::product_version();
    line += ' ';
    line += why;
    common::write_log_line(line);
    // No front end reaches this service any more: the next one starts the installed one.
    platform::remove_pipe_files();
    remove_own_pid_file();
    wait_until_settled();
    std::fflush(nullptr);
    std::_Exit(-1);
}

void watch(void* raw) {
    watch_setup* setup = static_cast<watch_setup*>(raw);
    platform::change_watch changes;
    bool noticed = true;
    for (const watched_file& f : setup->files) {
        noticed = changes.add_folder(f.folder) && noticed;
    }
    (void)changes.catch_stop_request();
    for (;;) {
        const auto event =
            changes.wait(noticed ? platform::change_watch::no_change_timeout : look_again_ms);
        if (event == platform::change_watch::event::stop_requested) retire(stop_text);
        if (any_changed(setup->files)) retire(replaced_text);
    }
}

}  // namespace

void note_accept_wait(bool waiting) {
    if ((accept_phase.load() % 2 == 1) != waiting) accept_phase.fetch_add(1);
}

bool start_retire_watch(const std::string& client_folder) {
    const platform::path_style style = platform::native_path_style();
    const std::string product_dir = common::installed_product_dir();
    // Lives as long as the process.
    auto* setup = new watch_setup;
    const auto add = [&](const std::string& folder, std::string_view program) {
        const std::string path =
            platform::join_path(folder, platform::program_file(program, style), style);
        setup->files.push_back({folder, path, platform::identify_file(path)});
    };
    if (!product_dir.empty()) add(platform::join_path(product_dir, "bin", style), "zorv_service");
    if (!client_folder.empty()) add(client_folder, client_program_base);
    return platform::start_detached_thread(watch, setup, watch_stack_size);
}

}  // namespace service

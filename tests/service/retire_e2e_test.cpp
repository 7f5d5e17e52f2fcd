// A service whose program (or its client's) an upgrade or removal replaces, or that is asked
// to stop, stops taking front ends at once, answers the request in flight and ends with its
// client; the next front end is served by a new service.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/pipe.h"
#include "service/retire_watch.h"
#include "tests/service/e2e_support.h"
#include "tests/service_support/fake_client_modes.h"

namespace service_e2e {
namespace {

using std::chrono::seconds;

// Puts a fresh copy of a built program over relative as an installer does: beside it, then
// renamed over (dpkg), or after removing the old file (cmake --install).
void replace_by_rename(world& w, const char* program, const char* relative) {
    const fs::path target = w.box.product_dir() / relative;
    const fs::path fresh = target.parent_path() / ".fresh";
    fs::copy_file(test_support::built_program(program), fresh);
    fs::permissions(fresh, fs::perms::owner_all);
    fs::rename(fresh, target);
}

// The client has the request (its number is that of the pair it came on).
bool client_has_a_request(const world& w) {
    for (const auto& entry : fs::directory_iterator(w.client_dir)) {
        if (entry.path().filename().string().rfind("request-", 0) == 0) return true;
    }
    return false;
}

TEST(service_retire, answers_the_request_in_flight_then_ends_and_the_next_run_starts_anew) {
    struct row {
        const char* what;
        std::function<void(world&, int service)> change;
        bool program_left;  // false: nothing can be started afterwards
        std::string_view logged = service::replaced_text;
    };
    const std::vector<row> rows = {
        {"its program renamed over (a package upgrade)",
         [](world& w, int) { replace_by_rename(w, "zorv_service", "bin/zorv_service"); }, true},
        {"its program removed and written anew (cmake --install)",
         [](world& w, int) {
             fs::remove(w.box.product_dir() / "bin/zorv_service");
             w.box.install("zorv_service", "bin/zorv_service");
         },
         true},
        {"the client's program renamed over",
         [](world& w, int) { replace_by_rename(w, "fake_zorvexplorer", "ZorvHome/zorvexplorer"); },
         true},
        {"its program removed (a package removal)",
         [](world& w, int) { fs::remove(w.box.product_dir() / "bin/zorv_service"); }, false},
        {"asked to stop (SIGTERM)", [](world&, int service) { ::kill(service, SIGTERM); }, true,
         service::stop_text},
    };
    int n = 0;
    for (const row& r : rows) {
        // The client learns the release file's name before the sandbox exists.
        const std::string release =
            "/tmp/varnex-retire-" + std::to_string(::getpid()) + "-" + std::to_string(n++);
        fs::remove(release);
        world w(std::string(fake_client::hold_mode) + release);
        test_support::background_program in_flight = w.start("trelmerge", {"a.txt", "b.txt"});
        ASSERT_TRUE(test_support::wait_until([&] { return client_has_a_request(w); })) << r.what;
        const auto service = w.service_pid();
        ASSERT_TRUE(service.has_value()) << r.what;
        const int client = std::stoi(w.client_file("pid"));
        const std::string request_pipe =
            platform::pipe_socket_path(launcher_pipe_name(), w.box.pipe_dir().string());

        r.change(w, *service);
        // No front end reaches it any more, and none takes it for the user's service.
        EXPECT_TRUE(test_support::wait_until([&] { return !fs::exists(request_pipe); })) << r.what;
        EXPECT_TRUE(test_support::wait_until([&] {
            return !fs::exists(w.box.user_work_dir() / "zorv_service.pid");
        })) << r.what;
        EXPECT_TRUE(process_alive(*service)) << r.what;

        test_support::write_file(release, "");
        EXPECT_EQ(in_flight.wait(seconds(30)), 0) << r.what;
        EXPECT_TRUE(test_support::wait_until([&] { return !process_alive(*service); })) << r.what;
        EXPECT_TRUE(test_support::wait_until([&] { return !process_alive(client); })) << r.what;
        EXPECT_NE(w.service_log().find(r.logged), std::string::npos) << r.what << w.service_log();

        if (r.program_left) {
            EXPECT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, 0) << r.what;
            const auto next = w.service_pid();
            EXPECT_TRUE(next.has_value() && *next != *service && process_alive(*next)) << r.what;
        }
        w.box.kill_product_processes();
        fs::remove(release);
    }
}

}  // namespace
}  // namespace service_e2e

// relay_bench: what the relay service costs, each figure beside a baseline measured in the
// same run, with the pipe directory where users have it (tmpfs).
//
// - a warm trelmerge run (service and client up) beside a statically linked C program,
//   started the same way, that makes one round trip on a Unix socket;
// - a cold first run (no service running) in milliseconds;
// - throughput with 1, 8 and 64 concurrent front ends beside a bare model of the same
//   three-process protocol (bare_relay) and beside an in-process server answering at once;
// - one 64 MiB request through the relay beside a direct socket copy into a buffer
//   reserved once;
// - the service's resident memory when idle and at its peak.
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/login_name.h"
#include "common/pipe_names.h"
#include "platform/message_buffer.h"
#include "platform/pipe.h"
#include "platform/thread.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"
#include "tests/support/xmlrpc_answers.h"

namespace {

namespace fs = std::filesystem;
using bench_clock = std::chrono::steady_clock;

constexpr std::string_view answer = test_support::true_answer;
constexpr std::string_view direct_pipe = R"(\\.\pipe\relay_bench\direct)";
constexpr std::string_view bare_pipe = R"(\\.\pipe\relay_bench\bare)";
constexpr long tmpfs_magic = 0x01021994;

double ms_since(bench_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(bench_clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Where users keep their pipes: the runtime directory, else /dev/shm, else /tmp.
fs::path private_pipe_dir() {
    std::vector<std::string> parents;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        parents.push_back(runtime);
    }
    parents.push_back("/dev/shm");
    parents.push_back("/tmp");
    for (const std::string& parent : parents) {
        std::string dir = parent + "/relay-bench-XXXXXX";
        if (::mkdtemp(dir.data()) != nullptr) return dir;
    }
    return {};
}

std::string file_system_of(const fs::path& dir) {
    struct statfs st {};
    if (::statfs(dir.c_str(), &st) != 0) return "unknown";
    return st.f_type == tmpfs_magic ? "tmpfs" : "not tmpfs";
}

// The direct baseline: answers each connection's one request at once, reading it into a
// buffer reserved once.
void serve_direct(void* raw) {
    platform::pipe* connection = static_cast<platform::pipe*>(raw);
    platform::message_buffer request;
    (void)platform::read_message_into(*connection, request);
    (void)connection->write(answer);
    delete connection;
}

void accept_direct(void*) {
    platform::pipe_server_options options;
    options.max_instances = platform::unlimited_instances;
    platform::pipe listening = platform::pipe::create_server(direct_pipe, options);
    for (;;) {
        if (!listening.valid() ||
            listening.wait_for_client() != platform::connect_status::connected) {
            return;
        }
        // As the service does: the next instance first, so the listening socket stays.
        platform::pipe next = platform::pipe::create_server(direct_pipe, options);
        auto* connection = new platform::pipe(std::move(listening));
        listening = std::move(next);
        if (!platform::start_detached_thread(serve_direct, connection, 256 * 1024)) {
            delete connection;
        }
    }
}

// One front-end exchange; retries the open while the server's queue is full.
bool exchange(const std::string& name, const std::string& request, std::atomic<int>& retries) {
    platform::pipe pipe;
    for (int attempt = 0; attempt < 10000 && !pipe.valid(); ++attempt) {
        pipe = platform::pipe::open(name, platform::pipe_open::read_write);
        if (!pipe.valid()) {
            ++retries;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    if (!pipe.valid() || !pipe.write(request)) return false;
    char reply[1024];
    const platform::io_result r = pipe.read(reply, sizeof reply - 1);
    return r.status != platform::io_status::failed && r.count > 0;
}

struct throughput {
    double per_second = 0;
    int failures = 0;
    int retries = 0;
};

throughput run_concurrent(const std::string& name, int front_ends, int total,
                          const std::string& request) {
    std::atomic<int> failures{0}, retries{0};
    const int each = total / front_ends;
    const auto start = bench_clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < front_ends; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < each; ++i) {
                if (!exchange(name, request, retries)) ++failures;
            }
        });
    }
    for (auto& t : threads) t.join();
    const double seconds = ms_since(start) / 1000.0;
    return {each * front_ends / seconds, failures.load(), retries.load()};
}

double time_one(const std::string& name, const std::string& request) {
    std::atomic<int> retries{0};
    const auto start = bench_clock::now();
    if (!exchange(name, request, retries)) return -1;
    return ms_since(start);
}

// A field of /proc/<pid>/status in KiB (VmRSS, VmHWM); -1 when unreadable.
long status_kib(int pid, std::string_view field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0 && line.size() > field.size() && line[field.size()] == ':') {
            return std::atol(line.c_str() + field.size() + 1);
        }
    }
    return -1;
}

int service_pid(const test_support::sandbox& box) {
    std::ifstream pid_file(box.user_work_dir() / "zorv_service.pid");
    int pid = -1;
    pid_file >> pid;
    return pid;
}

// Ends the service and its client and removes their sockets, as after a new login.
void end_service(const test_support::sandbox& box, const std::string& launcher) {
    box.kill_product_processes();
    test_support::wait_until([&] { return !platform::wait_named_pipe(launcher, 0); });
    for (const auto& entry : fs::directory_iterator(platform::pipe_directory())) {
        if (entry.path().filename().string().rfind("qorva.", 0) == 0) fs::remove(entry.path());
    }
}

const char* verdict(bool met) { return met ? "met" : "MISSED"; }

// Every figure of one product, each beside its baselines from the same pass.
struct figures {
    double cold_ms = 0;
    double warm_ms = 0, floor_ms = 0, floor_via_relay_ms = 0;
    double relay_rps[3] = {}, model_rps[3] = {}, direct_rps[3] = {};
    int relay_lost[3] = {}, model_lost[3] = {}, direct_lost[3] = {};
    double large_ms = 0, copy_ms = 0;
    long idle_kib = -1, peak_kib = -1;
    bool ok = false;
};

constexpr int front_end_counts[3] = {1, 8, 64};

void install_from(const fs::path& bin, const test_support::sandbox& box) {
    const fs::path product = box.product_dir();
    fs::create_directories(product / "bin");
    fs::create_directories(product / "ZorvHome");
    const auto copy = [](const fs::path& from, const fs::path& to) {
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
        fs::permissions(to, fs::perms::owner_all, fs::perm_options::add);
    };
    copy(bin / "trelmerge", product / "bin/trelmerge");
    copy(bin / "zorv_service", product / "bin/zorv_service");
    copy(bin / "fake_zorvexplorer", product / "ZorvHome/zorvexplorer");
}

// Measures the product built in bin. cold_runs: how many first runs after login to time.
figures measure(const fs::path& bin, int cold_runs) {
    figures f;
    test_support::sandbox box;
    const fs::path pipe_dir = private_pipe_dir();
    if (pipe_dir.empty()) return f;
    ::setenv("VARNEX_PIPE_DIR", pipe_dir.c_str(), 1);
    install_from(bin, box);
    fs::create_directories(box.work_dir());
    test_support::write_file(box.work_dir() / "a.txt", "a\n");
    test_support::write_file(box.work_dir() / "b.txt", "b\n");
    test_support::run_options options;
    options.cwd = box.work_dir().string();
    options.env["FAKE_CLIENT_MODE"] = "true";
    const std::vector<std::string> trelmerge{(box.product_dir() / "bin/trelmerge").string(),
                                             "a.txt", "b.txt"};
    const std::string relay = common::launcher_request_pipe_name(common::login_name());

    // Cold first runs: no service, no socket.
    std::vector<double> cold_ms;
    for (int i = 0; i < cold_runs; ++i) {
        end_service(box, relay);
        const auto start = bench_clock::now();
        const int status = test_support::run_program(trelmerge, options).exit_code;
        cold_ms.push_back(ms_since(start));
        if (status != 0) {
            std::fprintf(stderr, "relay_bench: a cold trelmerge run failed (%d)\n", status);
            return f;
        }
    }
    f.cold_ms = median(cold_ms);

    if (!platform::start_detached_thread(accept_direct, nullptr, 0)) return f;
    const std::string direct(direct_pipe);
    const std::string bare(bare_pipe);
    test_support::background_program bare_model(
        {test_support::built_program("bare_relay").string(),
         platform::pipe_socket_path(bare_pipe, pipe_dir.string())});
    if (bare_model.read_line(std::chrono::seconds(10)) != "ready" ||
        !test_support::wait_until([&] { return platform::wait_named_pipe(direct, 0); })) {
        std::fprintf(stderr, "relay_bench: a baseline server did not start\n");
        return f;
    }

    // Warm runs, each beside a run of the static baseline, direct and through the relay:
    // what the relay's hop costs beside the front end's own steps.
    constexpr int runs = 41;
    const std::vector<std::string> floor{test_support::built_program("static_round_trip").string(),
                                         platform::pipe_socket_path(direct, pipe_dir.string()),
                                         "600"};
    std::vector<std::string> floor_via_relay = floor;
    floor_via_relay[1] = platform::pipe_socket_path(relay, pipe_dir.string());
    std::vector<double> front_end_ms, floor_ms, via_relay_ms;
    const auto timed = [&](const std::vector<std::string>& argv, std::vector<double>& into,
                           bool keep) {
        const auto start = bench_clock::now();
        const int status = test_support::run_program(argv, options).exit_code;
        if (keep) into.push_back(ms_since(start));
        return status == 0;
    };
    for (int i = 0; i < runs + 3; ++i) {
        if (!timed(trelmerge, front_end_ms, i >= 3) || !timed(floor, floor_ms, i >= 3) ||
            !timed(floor_via_relay, via_relay_ms, i >= 3)) {
            std::fprintf(stderr, "relay_bench: a warm run failed\n");
            return f;
        }
    }
    f.warm_ms = median(front_end_ms);
    f.floor_ms = median(floor_ms);
    f.floor_via_relay_ms = median(via_relay_ms);
    const int pid = service_pid(box);
    f.idle_kib = status_kib(pid, "VmRSS");

    const std::string request(600, 'r');
    for (int k = 0; k < 3; ++k) {
        const int total = 64 * 40;
        const throughput r = run_concurrent(relay, front_end_counts[k], total, request);
        const throughput m = run_concurrent(bare, front_end_counts[k], total, request);
        const throughput d = run_concurrent(direct, front_end_counts[k], total, request);
        f.relay_rps[k] = r.per_second;
        f.model_rps[k] = m.per_second;
        f.direct_rps[k] = d.per_second;
        f.relay_lost[k] = r.failures;
        f.model_lost[k] = m.failures;
        f.direct_lost[k] = d.failures;
    }

    const std::string large(64u << 20, 'x');
    std::vector<double> relay_ms, copy_ms;
    for (int i = 0; i < 3; ++i) {
        relay_ms.push_back(time_one(relay, large));
        copy_ms.push_back(time_one(direct, large));
    }
    f.large_ms = median(relay_ms);
    f.copy_ms = median(copy_ms);
    f.peak_kib = status_kib(pid, "VmHWM");
    box.kill_product_processes();
    bare_model.kill();
    std::printf("pipe directory: %s (%s)\n", pipe_dir.c_str(), file_system_of(pipe_dir).c_str());
    fs::remove_all(pipe_dir);
    f.ok = true;
    return f;
}

// The figures of an earlier build, measured in a child process of this run (the in-process
// baseline server belongs to one pipe directory per process).
bool measure_before(const fs::path& bin, figures& out) {
    int channel[2];
    if (::pipe(channel) != 0) return false;
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        ::close(channel[0]);
        const figures f = measure(bin, 1);
        const bool sent = ::write(channel[1], &f, sizeof f) == static_cast<ssize_t>(sizeof f);
        std::fflush(stdout);
        ::_exit(sent && f.ok ? 0 : 1);
    }
    ::close(channel[1]);
    const bool got = ::read(channel[0], &out, sizeof out) == static_cast<ssize_t>(sizeof out);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return got && out.ok;
}

}  // namespace

int main() {
    // RELAY_BENCH_BEFORE: the bin folder of an earlier build (trelmerge, zorv_service,
    // fake_zorvexplorer), measured the same way for a before/after column.
    figures before;
    bool have_before = false;
    if (const char* dir = std::getenv("RELAY_BENCH_BEFORE"); dir && *dir) {
        have_before = measure_before(dir, before);
        if (!have_before) std::fprintf(stderr, "relay_bench: the earlier build failed\n");
    }
    const figures f = measure(test_support::built_program("trelmerge").parent_path(), 5);
    if (!f.ok) return 1;

    const auto after_before = [&](double after, double was) {
        static char text[64];
        if (!have_before || was <= 0) return "";
        std::snprintf(text, sizeof text, "%10.2f %8.2f", was, after / was);
        return static_cast<const char*>(text);
    };
    std::printf("%-24s %12s %-14s %10s %7s %8s %6s  %10s %8s\n", "measure", "relay", "baseline", "",
                "ratio", "goal", "", have_before ? "before" : "", have_before ? "now/was" : "");
    std::printf("%-24s %9.2f ms %-14s %10s %7s %8s %6s  %s\n", "cold first run", f.cold_ms, "", "",
                "", "< 50 ms", verdict(f.cold_ms < 50), after_before(f.cold_ms, before.cold_ms));
    std::printf("%-24s %9.3f ms %-14s %7.3f ms %7.2f %8s %6s  %s\n", "warm run", f.warm_ms,
                "static C", f.floor_ms, f.warm_ms / f.floor_ms, "<= 1.3",
                verdict(f.warm_ms / f.floor_ms <= 1.3), after_before(f.warm_ms, before.warm_ms));
    std::printf("%-24s %9.3f ms %-14s %7.3f ms %7.2f %8s %6s  %s\n", "  static C via relay",
                f.floor_via_relay_ms, "static C", f.floor_ms, f.floor_via_relay_ms / f.floor_ms, "",
                "", after_before(f.floor_via_relay_ms, before.floor_via_relay_ms));
    for (int k = 0; k < 3; ++k) {
        char label[64];
        std::snprintf(label, sizeof label, "%d front end%s, req/s", front_end_counts[k],
                      k == 0 ? "" : "s");
        const double to_model = f.relay_rps[k] / f.model_rps[k];
        const bool goal = k == 2;
        std::printf("%-24s %12.0f %-14s %10.0f %7.2f %8s %6s  %s\n", label, f.relay_rps[k],
                    "bare model", f.model_rps[k], to_model, goal ? ">= 0.8" : "",
                    goal ? verdict(to_model >= 0.8 && f.relay_lost[k] == 0) : "",
                    after_before(f.relay_rps[k], before.relay_rps[k]));
        std::printf("%-24s %12s %-14s %10.0f %7.2f   lost: relay %d, model %d, direct %d\n", "", "",
                    "direct answer", f.direct_rps[k], f.relay_rps[k] / f.direct_rps[k],
                    f.relay_lost[k], f.model_lost[k], f.direct_lost[k]);
    }
    std::printf(
        "%-24s %9.1f ms %-14s %7.1f ms %7.2f %8s %6s  %s  (speed: copy time / relay time)\n",
        "64 MiB request", f.large_ms, "direct copy", f.copy_ms, f.copy_ms / f.large_ms, ">= 0.5",
        verdict(f.copy_ms / f.large_ms >= 0.5), after_before(f.large_ms, before.large_ms));
    std::printf(
        "%-24s %8ld KiB %-14s %6ld KiB %7s %8s %6s  %s\n", "zorv_service RSS idle", f.idle_kib,
        "peak", f.peak_kib, "", "< 4 MiB", verdict(f.idle_kib >= 0 && f.idle_kib < 4096),
        after_before(static_cast<double>(f.idle_kib), static_cast<double>(before.idle_kib)));
    if (have_before) {
        std::printf("%-24s %8ld KiB\n", "  peak before", before.peak_kib);
    }
    return 0;
}

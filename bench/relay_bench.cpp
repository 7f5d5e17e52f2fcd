// relay_bench: what the relay service costs, each figure beside a baseline measured in the
// same run.
//
// - a warm trelmerge run (service and client up) beside a trivial program started the same
//   way that makes one round trip on a local pipe;
// - relay throughput with 1, 8 and 64 concurrent front ends beside the same exchanges
//   answered directly by an in-process server;
// - one 64 MiB request through the relay beside the same request sent to that server.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "common/pipe_names.h"
#include "common/product_runtime.h"
#include "platform/pipe.h"
#include "platform/thread.h"
#include "service/relay.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"

namespace {

namespace fs = std::filesystem;
using bench_clock = std::chrono::steady_clock;

constexpr std::string_view answer =
    "<?xml version=\"1.0\"?><methodResponse><params><param><value><boolean>1</boolean>"
    "</value></param></params></methodResponse>";
constexpr std::string_view direct_pipe = R"(\\.\pipe\relay_bench\direct)";

double ms_since(bench_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(bench_clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The baseline server: answers each connection's one request as the service's relay does,
// but without the hop to the client.
void serve_direct(void* raw) {
    platform::pipe* connection = static_cast<platform::pipe*>(raw);
    message_buffer request;
    (void)read_pipe_message_into(*connection, request);
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
    return pipe.read(reply, sizeof reply - 1).status != platform::io_status::failed;
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

}  // namespace

int main() {
    test_support::sandbox box;
    box.install_product("fake_zorvexplorer");
    fs::create_directories(box.work_dir());
    test_support::write_file(box.work_dir() / "a.txt", "a\n");
    test_support::write_file(box.work_dir() / "b.txt", "b\n");
    test_support::run_options options;
    options.cwd = box.work_dir().string();
    options.env["FAKE_CLIENT_MODE"] = "true";
    options.env["VARNEX_CONNECT_PAUSE_MS"] = "20";
    const std::vector<std::string> trelmerge{(box.product_dir() / "bin/trelmerge").string(),
                                             "a.txt", "b.txt"};
    if (test_support::run_program(trelmerge, options).exit_code != 0) {
        std::fprintf(stderr, "relay_bench: the first trelmerge run failed\n");
        return 1;
    }
    if (!platform::start_detached_thread(accept_direct, nullptr, 0)) return 1;
    const std::string direct(direct_pipe);
    const std::string relay = launcher_request_pipe_name(sysutl_myloginname());
    test_support::wait_until([&] { return platform::wait_named_pipe(direct, 0); });

    // Warm runs.
    constexpr int runs = 41;
    const std::vector<std::string> trivial{test_support::built_program("bench_round_trip").string(),
                                           direct, "600"};
    std::vector<double> front_end_ms, baseline_ms;
    for (int i = 0; i < runs + 3; ++i) {
        auto start = bench_clock::now();
        const int status = test_support::run_program(trelmerge, options).exit_code;
        const double fe = ms_since(start);
        start = bench_clock::now();
        const int base_status = test_support::run_program(trivial, options).exit_code;
        const double base = ms_since(start);
        if (status != 0 || base_status != 0) {
            std::fprintf(stderr, "relay_bench: a warm run failed (%d, %d)\n", status, base_status);
            return 1;
        }
        if (i >= 3) {
            front_end_ms.push_back(fe);
            baseline_ms.push_back(base);
        }
    }
    const double fe = median(front_end_ms), base = median(baseline_ms);
    std::printf("warm trelmerge run (median of %d):  %8.2f ms   baseline %8.2f ms   ratio %.2f\n",
                runs, fe, base, fe / base);

    // Throughput.
    const std::string request(600, 'r');
    for (int front_ends : {1, 8, 64}) {
        const int total = 64 * 40;
        const throughput r = run_concurrent(relay, front_ends, total, request);
        const throughput b = run_concurrent(direct, front_ends, total, request);
        std::printf(
            "relay, %2d front ends:  %8.0f req/s   baseline %8.0f req/s   ratio %.2f"
            "   (failures %d/%d, busy retries %d/%d)\n",
            front_ends, r.per_second, b.per_second, r.per_second / b.per_second, r.failures,
            b.failures, r.retries, b.retries);
    }

    // One large request.
    const std::string large(64u << 20, 'x');
    std::vector<double> relay_ms, copy_ms;
    for (int i = 0; i < 3; ++i) {
        relay_ms.push_back(time_one(relay, large));
        copy_ms.push_back(time_one(direct, large));
    }
    const double r = median(relay_ms), c = median(copy_ms);
    std::printf(
        "64 MiB request:  relay %8.1f ms (%6.0f MiB/s)   direct %8.1f ms (%6.0f MiB/s)"
        "   ratio %.2f\n",
        r, 64000.0 / r, c, 64000.0 / c, r / c);
    box.kill_product_processes();
    return 0;
}

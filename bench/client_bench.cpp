// client_bench: the reference client on compares and merges of every size, each beside
// git in the same run:
//
// - time from request to answer (files read, diff, page built and written) against
//   `git diff --no-index` on the same files (its output written to a file), and a merge
//   against `git merge-file -p`, whose bytes must equal the client's;
// - the compare page's size against 1.5 times the inputs' gzip size plus 100 KB;
// - the client's peak memory, above its footprint on a tiny compare, against the inputs'
//   size;
// - headless Chromium's time from opening the page to its first change drawn plus the
//   answer to n (bench/page_timing.py).
//
// Times are CPU seconds (user + system) of each process, which a busy machine disturbs
// less than wall time; wall time is printed too.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct usage {
    int status = -1;
    double cpu = 0, wall = 0;  // seconds
    long peak_kib = 0;
};

// Runs argv with stdout to out_path (or /dev/null), and measures it.
usage run(const std::vector<std::string>& argv, const std::string& out_path = "/dev/null") {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) ::dup2(fd, 1);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    usage u;
    struct rusage ru {};
    int status = 0;
    if (pid < 0 || ::wait4(pid, &status, 0, &ru) != pid) return u;
    u.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    u.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    u.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
            static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    u.peak_kib = ru.ru_maxrss;
    return u;
}

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const fs::path& p, const std::string& data) {
    std::ofstream(p, std::ios::binary) << data;
}

std::size_t gzip_size(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::vector<unsigned char> out(deflateBound(&z, data.size()));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    const std::size_t n = z.total_out;
    deflateEnd(&z);
    return n;
}

// ---- the shapes

const char* const words[] = {"alpha", "beta",  "gamma", "delta", "epsilon", "zeta",
                             "eta",   "theta", "iota",  "kappa", "lambda",  "mu"};

std::size_t mix(std::size_t i) { return (i * 2654435761u) % 1000003; }

std::string line(std::size_t i) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%07zu %s %s value=%zu;\n", i, words[i % 12],
                  words[(i * 7) % 12], mix(i) % 100000);
    return buf;
}

std::string other_line(std::size_t i, const char* tag) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s %07zu %s count=%zu\n", tag, mix(i * 3 + 1),
                  words[(i * 5) % 12], mix(i + 17) % 9999);
    return buf;
}

enum class kind { every_seventh, nothing_shared, scattered, merge };

struct shape {
    std::string name;
    kind k;
    std::size_t lines, changes;
};

// The files of a shape: two, or base, ours and theirs for a merge.
std::vector<std::string> make(const shape& s) {
    std::string a, b, c;
    const std::size_t every = s.changes ? s.lines / s.changes : 0;
    for (std::size_t i = 0; i < s.lines; ++i) {
        const std::string l = line(i);
        a += l;
        switch (s.k) {
            case kind::every_seventh:
                b += i % 7 == 3 ? other_line(i, "CHANGED") : l;
                break;
            case kind::nothing_shared:
                b += other_line(i, "other");
                break;
            case kind::scattered: {
                const std::size_t at = i % every;
                const std::size_t which = i / every;
                if (at != every / 2) {
                    b += l;
                } else if (which % 3 == 0) {
                    b += other_line(i, "edited");
                } else if (which % 3 == 1) {
                    b += l + other_line(i, "inserted");
                }  // else: deleted
                break;
            }
            case kind::merge: {
                const bool here = i % every == every / 2;
                const bool ours = here && (i / every) % 2 == 0;
                b += ours ? other_line(i, "ours") : l;
                c += here && !ours ? other_line(i, "theirs") : l;
                break;
            }
        }
    }
    if (s.k == kind::merge) return {a, b, c};
    return {a, b};
}

std::string rpc_strings(const std::vector<std::string>& items) {
    std::string s = "<param><value><array>";
    for (const std::string& i : items)
        s += "<data><value><string>" + i + "</string></value></data>";
    return s + "</array></value></param>";
}

std::string request(const std::vector<std::string>& paths, const std::string& output) {
    std::vector<std::string> names;
    for (const std::string& p : paths) names.push_back(fs::path(p).filename().string());
    std::string body = "<methodCall><methodName>RequestHandler.";
    body += output.empty() ? "Compare" : "CompareMerge";
    body += "</methodName><params>";
    if (!output.empty()) body += "<param><value><string>" + output + "</string></value></param>";
    body += rpc_strings(names) + rpc_strings(paths) +
            "<param><value><string></string></value></param></params></methodCall>";
    return "POST /RPC2 HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
}

struct row {
    std::string name;
    usage client, git;
    std::size_t input = 0, gz = 0, page = 0;
    std::string page_path;
    bool identical = true;  // merges: the client's bytes are git's
};

std::string page_of(const std::string& log) {
    const std::size_t at = log.find("true: page ");
    if (at == std::string::npos) return {};
    return log.substr(at + 11, log.find('\n', at) - at - 11);
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
    const fs::path source = argc > 1 ? fs::path(argv[1]) : fs::path(VARNEX_SOURCE_DIR);
    char templ[] = "/tmp/client-bench-XXXXXX";
    if (::mkdtemp(templ) == nullptr) return 1;
    const fs::path dir = templ;
    const std::vector<shape> shapes = {
        {"20 000 lines, every 7th changed", kind::every_seventh, 20000, 0},
        {"20 000 lines, nothing shared", kind::nothing_shared, 20000, 0},
        {"60 000 lines, nothing shared", kind::nothing_shared, 60000, 0},
        {"150 000 lines, nothing shared", kind::nothing_shared, 150000, 0},
        {"100 000 lines, 2 000 changes", kind::scattered, 100000, 2000},
        {"10^6 lines, every 7th changed", kind::every_seventh, 1000000, 0},
        {"10^6 lines, nothing shared", kind::nothing_shared, 1000000, 0},
        {"10^6 lines, 20 000 changes", kind::scattered, 1000000, 20000},
        {"merge 100 000 lines, 4 000 changes", kind::merge, 100000, 4000},
        {"merge 10^6 lines, 40 000 changes", kind::merge, 1000000, 40000},
    };
    // The client's own footprint (program, libraries) on a compare of two one-line files:
    // memory is counted above it.
    fs::create_directories(dir / "idle" / "work");
    write_file(dir / "idle" / "a.txt", "a\n");
    write_file(dir / "idle" / "b.txt", "b\n");
    write_file(dir / "idle" / "request",
               request({(dir / "idle" / "a.txt").string(), (dir / "idle" / "b.txt").string()}, ""));
    const usage idle = run({(bin / "client_bench_probe").string(), (dir / "idle" / "work").string(),
                            (dir / "idle" / "request").string()});
    std::vector<row> rows;
    for (std::size_t k = 0; k < shapes.size(); ++k) {
        const shape& s = shapes[k];
        std::fprintf(stderr, "%s...\n", s.name.c_str());
        const fs::path here = dir / std::to_string(k);
        fs::create_directories(here / "work");
        const std::vector<std::string> files = make(s);
        std::vector<std::string> paths;
        row r;
        r.name = s.name;
        for (std::size_t f = 0; f < files.size(); ++f) {
            const fs::path p = here / (std::string(1, static_cast<char>('a' + f)) + ".txt");
            write_file(p, files[f]);
            paths.push_back(p.string());
            r.input += files[f].size();
            r.gz += gzip_size(files[f]);
        }
        const bool merge = s.k == kind::merge;
        const std::string output = merge ? (here / "merged.txt").string() : std::string();
        write_file(here / "request", request(paths, output));
        const std::string log = (here / "client.log").string();
        r.client = run({(bin / "client_bench_probe").string(), (here / "work").string(),
                        (here / "request").string()},
                       log);
        if (merge) {
            r.git = run({"git", "merge-file", "-p", paths[1], paths[0], paths[2]},
                        (here / "git-merged.txt").string());
            r.identical = read_file(here / "merged.txt") == read_file(here / "git-merged.txt");
        } else {
            r.git = run({"git", "diff", "--no-index", paths[0], paths[1]},
                        (here / "git.diff").string());
            r.page_path = page_of(read_file(log));
            if (!r.page_path.empty()) r.page = fs::file_size(r.page_path);
        }
        rows.push_back(r);
    }

    // Chromium, all pages in one browser.
    std::vector<std::string> timing{"/usr/bin/python3",
                                    (source / "bench" / "page_timing.py").string()};
    for (const row& r : rows) {
        if (!r.page_path.empty()) timing.push_back(r.page_path);
    }
    run(timing, (dir / "timing.txt").string());
    std::istringstream timings(read_file(dir / "timing.txt"));

    std::printf("\n%-36s %9s %8s %6s %6s | %8s %8s %6s | %8s %6s | %11s\n", "shape", "client s",
                "git s", "cpu x", "wall x", "page MB", "budget", "ratio", "peak MB", "x in",
                "chromium ms");
    std::printf("%-36s %9s %8s %6s %6s | %8s %8s %6s | %8s %6s | %11s\n", "goal", "", "", "<=3", "",
                "", "", "<=1", "", "<=4", "<=1000");
    bool all_ok = true;
    for (const row& r : rows) {
        const double cpu_x = r.git.cpu > 0 ? r.client.cpu / r.git.cpu : 0;
        const double wall_x = r.git.wall > 0 ? r.client.wall / r.git.wall : 0;
        const double budget = 1.5 * static_cast<double>(r.gz) + 100 * 1024;
        const double page_x = static_cast<double>(r.page) / budget;
        const double mem_x = static_cast<double>(r.client.peak_kib - idle.peak_kib) * 1024 /
                             static_cast<double>(r.input);
        std::string chromium = "-";
        if (!r.page_path.empty()) {
            std::string ready, answer;
            std::string timing_line;
            std::getline(timings, timing_line);
            std::istringstream(timing_line) >> ready >> answer;
            if (ready != "-" && !ready.empty()) {
                const int total = std::atoi(ready.c_str()) + std::atoi(answer.c_str());
                chromium = std::to_string(total) + " (" + ready + "+" + answer + ")";
                all_ok = all_ok && total <= 1000;
            } else {
                all_ok = false;
            }
        }
        const bool ok = r.client.status == 0 && cpu_x <= 3 && mem_x <= 4 &&
                        (r.page_path.empty() || page_x <= 1) && r.identical;
        all_ok = all_ok && ok;
        std::printf("%-36s %9.2f %8.2f %6.2f %6.2f | %8.2f %8.2f %6.2f | %8.1f %6.2f | %11s%s\n",
                    r.name.c_str(), r.client.cpu, r.git.cpu, cpu_x, wall_x,
                    static_cast<double>(r.page) / 1e6, budget / 1e6, page_x,
                    static_cast<double>(r.client.peak_kib) / 1024, mem_x, chromium.c_str(),
                    r.page_path.empty()
                        ? (r.identical ? "  bytes = git merge-file" : "  BYTES DIFFER")
                        : "");
    }
    std::printf(
        "\nInputs: lines of about 40 bytes; sizes and gzip sizes are of all input files.\n");
    std::printf("%s\n", all_ok ? "every ratio within its goal" : "SOME RATIO OUTSIDE ITS GOAL");
    if (!std::getenv("VARNEX_KEEP_BENCH_FILES")) fs::remove_all(dir);
    return all_ok ? 0 : 1;
}

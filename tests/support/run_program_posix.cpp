#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "tests/support/run_program.h"

extern char** environ;

namespace test_support {

namespace {

using clock = std::chrono::steady_clock;

std::vector<std::string> make_env(const std::map<std::string, std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        std::string key = kv.substr(0, kv.find('='));
        if (!extra.count(key)) env.push_back(kv);
    }
    for (const auto& [k, v] : extra) env.push_back(k + "=" + v);
    return env;
}

std::vector<char*> c_array(std::vector<std::string>& v) {
    std::vector<char*> out;
    for (auto& s : v) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Spawns with stdin from /dev/null, stdout and stderr to pipes.
int spawn(const std::vector<std::string>& argv_in, const run_options& o, int& out_r, int& err_r) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe2 failed");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    if (!o.cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, o.cwd.c_str());
    std::vector<std::string> argv = argv_in;
    std::vector<std::string> env = make_env(o.env);
    auto cargv = c_array(argv);
    auto cenv = c_array(env);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0].c_str(), &fa, nullptr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
    out_r = out[0];
    err_r = err[0];
    return pid;
}

int decode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

run_result run_program(const std::vector<std::string>& argv, const run_options& o) {
    int out_r, err_r;
    pid_t pid = spawn(argv, o, out_r, err_r);
    run_result r;
    auto end = clock::now() + o.deadline;
    pollfd fds[2] = {{out_r, POLLIN, 0}, {err_r, POLLIN, 0}};
    int open_fds = 2;
    bool killed = false;
    while (open_fds > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        int n = poll(fds, 2, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[65536];
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(got));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.exit_code = killed ? -1000 : decode(status);
    return r;
}

struct background_program::handles {
    int out_fd = -1;
};

background_program::background_program(const std::vector<std::string>& argv, const run_options& o)
    : handles_(std::make_unique<handles>()) {
    int err_r;
    pid_ = spawn(argv, o, handles_->out_fd, err_r);
    close(err_r);
}

background_program::~background_program() {
    kill();
    if (handles_->out_fd >= 0) close(handles_->out_fd);
}

int background_program::wait(std::chrono::milliseconds deadline) {
    if (ended_) return code_;
    auto end = clock::now() + deadline;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            ended_ = true;
            code_ = decode(status);
            return code_;
        }
        if (clock::now() >= end) return -1000;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::string background_program::read_line(std::chrono::milliseconds deadline) {
    auto end = clock::now() + deadline;
    for (;;) {
        auto nl = buffered_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - clock::now());
        if (left.count() <= 0) return "";
        pollfd p{handles_->out_fd, POLLIN, 0};
        int n = poll(&p, 1, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return "";
        char buf[4096];
        ssize_t got = read(handles_->out_fd, buf, sizeof buf);
        if (got <= 0) return "";
        buffered_.append(buf, static_cast<size_t>(got));
    }
}

void background_program::kill() {
    if (ended_ || pid_ < 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    ended_ = true;
    code_ = decode(status);
}

}  // namespace test_support

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <thread>

#include "platform/command_line.h"
#include "platform/process.h"

extern char** environ;

namespace platform {

namespace {

// What is known of one child: remembered once it has been reaped.
struct child_state {
    pid_t pid = -1;
    bool ended = false;
    int exit_code = -1;
};

}  // namespace

struct process::impl {
    child_state child;
};

struct process_access {
    static process make(pid_t pid) {
        process p;
        p.impl_ = new process::impl{};
        p.impl_->child.pid = pid;
        return p;
    }
};

namespace {

int code_of(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Owns a posix_spawn_file_actions_t / posix_spawnattr_t for the length of one spawn.
struct spawn_setup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    bool ok = true;
    spawn_setup() {
        if (posix_spawn_file_actions_init(&actions) != 0) ok = false;
        if (posix_spawnattr_init(&attr) != 0) ok = false;
    }
    ~spawn_setup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    spawn_setup(const spawn_setup&) = delete;
    spawn_setup& operator=(const spawn_setup&) = delete;
};

std::vector<char*> c_argv(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    out.reserve(argv.size() + 1);
    for (const auto& a : argv) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

// Sets up what options ask of a spawn. The working folder is entered by the child alone,
// between fork and exec, so that no other thread of ours sees its directory change.
bool apply(const spawn_options& options, spawn_setup& setup) {
    if (!setup.ok) return false;
    if (options.hidden) {
        for (int fd : {0, 1, 2}) {
            const int mode = fd == 0 ? O_RDONLY : O_WRONLY;
            if (posix_spawn_file_actions_addopen(&setup.actions, fd, "/dev/null", mode, 0) != 0) {
                return false;
            }
        }
    }
    if (options.detached && posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSID) != 0) {
        return false;
    }
    if (!options.working_folder.empty() &&
        posix_spawn_file_actions_addchdir_np(&setup.actions, options.working_folder.c_str()) != 0) {
        return false;
    }
    return true;
}

bool reap(child_state& p, int options) {
    if (p.ended) return true;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(p.pid, &status, options);
    } while (r < 0 && errno == EINTR);
    if (r == p.pid) {
        p.ended = true;
        p.exit_code = code_of(status);
        return true;
    }
    if (r < 0 && errno == ECHILD) {
        // Reaped by someone else (or not ours): it is gone, its code unknown.
        p.ended = true;
        return true;
    }
    return false;
}

// Waits until pid can be reaped or timeout passes; true when it became reapable.
bool wait_readable(pid_t pid, std::chrono::milliseconds timeout) {
#ifdef SYS_pidfd_open
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        bool ready = false;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            const int ms = left.count() <= 0        ? 0
                           : left.count() > INT_MAX ? INT_MAX
                                                    : static_cast<int>(left.count());
            pollfd pfd{fd, POLLIN, 0};
            const int rc = poll(&pfd, 1, ms);
            if (rc < 0 && errno == EINTR) continue;
            ready = rc > 0;
            break;
        }
        ::close(fd);
        return ready;
    }
#endif
    (void)pid;
    (void)timeout;
    return false;
}

}  // namespace

process::~process() { delete impl_; }

process::process(process&& other) noexcept : impl_(other.impl_) { other.impl_ = nullptr; }

process& process::operator=(process&& other) noexcept {
    if (this != &other) {
        delete impl_;
        impl_ = other.impl_;
        other.impl_ = nullptr;
    }
    return *this;
}

bool process::valid() const { return impl_ != nullptr; }

int process::id() const { return impl_ != nullptr ? static_cast<int>(impl_->child.pid) : -1; }

bool process::has_ended() const {
    if (impl_ == nullptr) return true;
    return reap(impl_->child, WNOHANG);
}

std::optional<int> process::wait_for_exit(std::chrono::milliseconds timeout) const {
    if (impl_ == nullptr) return std::nullopt;
    if (reap(impl_->child, WNOHANG)) return impl_->child.exit_code;
    if (timeout.count() <= 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (wait_readable(impl_->child.pid, timeout) && reap(impl_->child, WNOHANG))
        return impl_->child.exit_code;
    // Without a process descriptor: short steps up to the deadline.
    for (;;) {
        if (reap(impl_->child, WNOHANG)) return impl_->child.exit_code;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return std::nullopt;
        const auto step = std::min<std::chrono::steady_clock::duration>(
            std::chrono::milliseconds(5), deadline - now);
        std::this_thread::sleep_for(step);
    }
}

process spawn(const std::vector<std::string>& argv, const spawn_options& options) {
    if (argv.empty() || argv[0].empty()) return {};
    spawn_setup setup;
    if (!apply(options, setup)) return {};
    auto args = c_argv(argv);
    // A name without a slash is looked up in PATH, as Windows searches for a program name.
    const bool search_path = argv[0].find('/') == std::string::npos;
    // The child enters its folder before exec: a relative path is made absolute here, so that
    // it names the program from our directory, as it does on Windows.
    std::string program = argv[0];
    if (!search_path && program[0] != '/' && !options.working_folder.empty()) {
        const std::string here = current_directory();
        if (here.empty()) return {};
        program = here + '/' + program;
    }
    pid_t pid = -1;
    const int rc =
        search_path
            ? posix_spawnp(&pid, program.c_str(), &setup.actions, &setup.attr, args.data(), environ)
            : posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attr, args.data(), environ);
    if (rc != 0) return {};
    return process_access::make(pid);
}

process spawn_command_line(std::string_view command_line, const spawn_options& options) {
    return spawn(split_command_line(command_line), options);
}

std::optional<int> run_and_wait(const std::string& program, const std::vector<std::string>& argv) {
    if (program.empty() || argv.empty()) return std::nullopt;
    spawn_setup setup;
    if (!setup.ok) return std::nullopt;
    auto args = c_argv(argv);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attr, args.data(), environ) !=
        0) {
        return std::nullopt;
    }
    child_state child{pid};
    reap(child, 0);
    return child.exit_code;
}

std::string process_executable_path(int pid) {
    if (pid <= 0) return "";
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = readlink(link.c_str(), target.data(), target.size());
        if (n < 0) return "";
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return target;
        }
        if (target.size() >= (1u << 16)) return "";
        target.resize(target.size() * 2);
    }
}

int current_process_id() { return static_cast<int>(getpid()); }

void reap_children_automatically() {
    // The default action with SA_NOCLDWAIT, not SIG_IGN: an ignored SIGCHLD would be
    // inherited through exec and break children that wait for their own children.
    struct sigaction action{};
    action.sa_handler = SIG_DFL;
    action.sa_flags = SA_NOCLDWAIT;
    sigemptyset(&action.sa_mask);
    sigaction(SIGCHLD, &action, nullptr);
}

std::string current_directory() {
    std::string dir(256, '\0');
    for (;;) {
        if (getcwd(dir.data(), dir.size()) != nullptr) {
            dir.resize(std::char_traits<char>::length(dir.c_str()));
            return dir;
        }
        if (errno != ERANGE || dir.size() >= (1u << 16)) return "";
        dir.resize(dir.size() * 2);
    }
}

}  // namespace platform

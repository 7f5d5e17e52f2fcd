#include "tests/support/second_user.h"

#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

namespace test_support {

namespace {

std::optional<unix_user> find_user(const char* login) {
    const passwd* pw = getpwnam(login);
    if (pw == nullptr) return std::nullopt;
    return unix_user{pw->pw_uid, pw->pw_gid, pw->pw_name};
}

constexpr const char* useradd = "/usr/sbin/useradd";
constexpr const char* setpriv = "/usr/bin/setpriv";

}  // namespace

std::optional<unix_user> second_user(std::string& why) {
    if (auto user = find_user(second_user_login)) return user;
    if (geteuid() != 0) {
        why = std::string("not root, and no user ") + second_user_login + " to act as another user";
        return std::nullopt;
    }
    if (access(useradd, X_OK) != 0) {
        why = std::string("no ") + useradd + " to create a second user";
        return std::nullopt;
    }
    // Test programs run in parallel: another one may be creating the user right now, and
    // holds the password file's lock meanwhile.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    do {
        (void)run_program({useradd, "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                           second_user_login},
                          run_options{});
        if (auto user = find_user(second_user_login)) return user;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < end);
    why = std::string("could not create the user ") + second_user_login;
    return std::nullopt;
}

int run_as(const unix_user& user, const std::function<int()>& fn,
           std::chrono::milliseconds deadline) {
    const pid_t pid = fork();
    if (pid < 0) return -1000;
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(user.gid) != 0 || setuid(user.uid) != 0) {
            _exit(125);
        }
        _exit(fn());
    }
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            return 128 + WTERMSIG(status);
        }
        if (done < 0 || std::chrono::steady_clock::now() >= end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1000;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

run_result run_program_as(const unix_user& user, const std::vector<std::string>& argv,
                          const run_options& options) {
    std::vector<std::string> full{setpriv, "--reuid=" + std::to_string(user.uid),
                                  "--regid=" + std::to_string(user.gid), "--clear-groups", "--"};
    full.insert(full.end(), argv.begin(), argv.end());
    return run_program(full, options);
}

bool stranger::hold(std::function<int()> make_socket) {
    if (::pipe(ready_) != 0 || ::pipe(done_) != 0) return false;
    child_ = std::async(std::launch::async, [this, make_socket] {
        return run_as(user_, [&] {
            ::close(ready_[0]);
            ::close(done_[1]);
            const char ok = make_socket() >= 0 ? 'y' : 'n';
            if (::write(ready_[1], &ok, 1) != 1) return 2;
            char c;
            (void)::read(done_[0], &c, 1);  // the test closes its end when done
            return ok == 'y' ? 0 : 1;
        });
    });
    pollfd p{ready_[0], POLLIN, 0};
    char ok = 'n';
    return ::poll(&p, 1, 20000) == 1 && ::read(ready_[0], &ok, 1) == 1 && ok == 'y';
}

void stranger::release() {
    for (int* fd : {&ready_[0], &ready_[1], &done_[0], &done_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    if (child_.valid()) child_.wait();
}

void open_path_to_others(const std::string& path) {
    for (std::filesystem::path p(path); !p.empty() && p != p.root_path(); p = p.parent_path()) {
        struct stat st {};
        if (stat(p.c_str(), &st) != 0) continue;
        chmod(p.c_str(), (st.st_mode & 07777) | 0111);
    }
}

}  // namespace test_support

// A second Unix user for tests of what another user can do to ours: found, or created when
// the tests run as root, and programs or functions run as that user.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace test_support {

struct unix_user {
    unsigned uid = 0;
    unsigned gid = 0;
    std::string name;
};

/// The login of the second user that the tests create.
inline constexpr const char* second_user_login = "varnextestother";

/// The second user: found by its login, or created (a system user without home or login
/// shell) when this process runs as root. Nothing when it can't be had; why then says so in
/// one line, for GTEST_SKIP() << why.
std::optional<unix_user> second_user(std::string& why);

/// Runs fn in a child process with the user's ids (no supplementary groups); fn's result is
/// the child's exit code. -1000 when it did not end by the deadline (it is killed). The
/// child is a fork of a test process: fn should keep to plain system calls.
int run_as(const unix_user& user, const std::function<int()>& fn,
           std::chrono::milliseconds deadline = std::chrono::seconds(20));

/// run_program as the user (through setpriv), with the user's ids and no supplementary
/// groups.
run_result run_program_as(const unix_user& user, const std::vector<std::string>& argv,
                          const run_options& options = {});

/// Another user's process that holds a socket (or whatever make_socket opens) while the test
/// looks: started by hold(), ended by release() or the destructor.
class stranger {
  public:
    explicit stranger(unix_user user) : user_(std::move(user)) {}
    ~stranger() { release(); }
    stranger(const stranger&) = delete;
    stranger& operator=(const stranger&) = delete;

    /// Runs make_socket as the other user; true once its socket exists (fd >= 0).
    bool hold(std::function<int()> make_socket);
    void release();

  private:
    unix_user user_;
    int ready_[2] = {-1, -1};
    int done_[2] = {-1, -1};
    std::future<int> child_;
};

/// Makes path and every folder above it up to the root reachable (search permission) by
/// other users, so that a second user can reach a shared folder inside a sandbox.
void open_path_to_others(const std::string& path);

}  // namespace test_support

// Running a program to its end with a deadline, its output captured.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace test_support {

struct run_result {
    int exit_code = -1000;  // -1000: did not end by the deadline (it was killed)
    std::string out;
    std::string err;
    bool timed_out() const { return exit_code == -1000; }
};

struct run_options {
    std::string cwd;                         // empty: inherited
    std::map<std::string, std::string> env;  // added to (or replacing in) the inherited one
    std::chrono::milliseconds deadline = std::chrono::seconds(60);
};

/// argv[0] is the program's path; standard input is empty. Killed (SIGKILL, TerminateProcess)
/// at the deadline.
run_result run_program(const std::vector<std::string>& argv, const run_options& options = {});

/// A started background program; killed (by pid) on destruction unless it has ended.
class background_program {
  public:
    explicit background_program(const std::vector<std::string>& argv,
                                const run_options& options = {});
    ~background_program();
    background_program(const background_program&) = delete;
    background_program& operator=(const background_program&) = delete;

    int pid() const { return pid_; }
    /// Waits for its end up to deadline; exit code, or -1000 on time-out.
    int wait(std::chrono::milliseconds deadline);
    /// Reads standard output until a full line is there (or the deadline); "" on failure.
    std::string read_line(std::chrono::milliseconds deadline);
    void kill();

  private:
    struct handles;  // the platform's hold on the process and its output
    std::unique_ptr<handles> handles_;
    int pid_ = -1;
    std::string buffered_;
    bool ended_ = false;
    int code_ = -1000;
};

}  // namespace test_support

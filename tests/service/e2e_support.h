// A sandbox product tree with the fake client installed, and ways to drive it as front
// ends do.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"

namespace service_e2e {

namespace fs = std::filesystem;

inline constexpr auto run_deadline = std::chrono::seconds(30);

class world {
  public:
    /// Installs the product with the fake client, which answers in mode, and puts files
    /// a.txt and b.txt in the files folder.
    explicit world(const std::string& mode = "true");

    test_support::sandbox box;
    fs::path client_dir;  // where the fake client records what it saw
    std::map<std::string, std::string> env;

    /// Runs product program bin/<program> with args in the files folder.
    test_support::run_result run(const std::string& program, const std::vector<std::string>& args);
    test_support::run_result trelmerge(const std::vector<std::string>& args) {
        return run("trelmerge", args);
    }

    /// Creates a file in the files folder; returns its name.
    std::string file(const std::string& name, const std::string& content = "x\n");

    fs::path product() const;  // the product folder, links resolved
    fs::path files() const;    // the files folder, links resolved
    std::string service_log() const;
    std::optional<int> service_pid() const;
    std::string client_file(const std::string& name) const;
    /// Waits until the client has recorded name.
    bool wait_client_file(const std::string& name) const;
};

/// True while pid names a process that has not ended (a zombie has ended).
bool process_alive(int pid);

/// The launcher request pipe of the current user.
std::string launcher_pipe_name();

/// One front-end exchange on the launcher request pipe, once the pipe is there: the whole
/// reply message, or nothing when the service dropped the connection.
std::optional<std::string> exchange(const std::string& request);

}  // namespace service_e2e

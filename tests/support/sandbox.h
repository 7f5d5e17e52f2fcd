// A test's private world: its own temporary directory, pipe directory and product tree,
// and the end of every process that ran from that tree.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace test_support {

namespace fs = std::filesystem;

/// What the platform adds to a program's name: "" or ".exe".
std::string_view program_suffix();

/// Where the build put a program or test helper (build/bin/<name>, with the suffix).
fs::path built_program(std::string_view name);

/// Polls cond until it holds or the deadline passes; true when it held.
bool wait_until(const std::function<bool()>& cond,
                std::chrono::milliseconds deadline = std::chrono::seconds(20));

std::string read_file(const fs::path& path);
void write_file(const fs::path& path, std::string_view data);

class sandbox {
  public:
    /// Creates <root>/{tmp,pipes,product,files}; sets the temporary directory (TMPDIR, or TMP
    /// and TEMP) and VARNEX_PIPE_DIR of this process (children inherit them) until destruction.
    sandbox();
    ~sandbox();
    sandbox(const sandbox&) = delete;
    sandbox& operator=(const sandbox&) = delete;

    const fs::path& root() const { return root_; }
    fs::path tmp_dir() const { return root_ / "tmp"; }
    fs::path pipe_dir() const { return root_ / "pipes"; }
    fs::path product_dir() const { return root_ / "product"; }
    /// A folder for the test's own files (contributors, outputs).
    fs::path work_dir() const { return root_ / "files"; }

    /// The per-user work directory that the programs use in this sandbox.
    fs::path user_work_dir() const;

    /// Copies build/bin/<program> to <product>/<relative>, executable; both with the
    /// platform's program suffix.
    void install(std::string_view program, const fs::path& relative);

    /// The usual tree: bin/trelmerge, bin/zorv_service, bin/trelmergeutf8, and client as
    /// ZorvHome/zorvexplorer when given.
    void install_product(std::string_view client = {});

    /// Ends (SIGKILL, TerminateProcess) every process whose executable lies in this sandbox's
    /// product tree.
    void kill_product_processes() const;

  private:
    fs::path root_;
    /// The environment variables that the sandbox set, with their values before it.
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_environment_;
};

}  // namespace test_support

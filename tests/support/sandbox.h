// A test's private world: its own temporary directory, pipe directory and product tree,
// and the end of every process that ran from that tree.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace test_support {

namespace fs = std::filesystem;

/// Where the build put a program or test helper (build/bin/<name>).
fs::path built_program(std::string_view name);

/// Polls cond until it holds or the deadline passes; true when it held.
bool wait_until(const std::function<bool()>& cond,
                std::chrono::milliseconds deadline = std::chrono::seconds(20));

std::string read_file(const fs::path& path);
void write_file(const fs::path& path, std::string_view data);

class sandbox {
  public:
    /// Creates <root>/{tmp,pipes,product}; sets TMPDIR and VARNEX_PIPE_DIR of this process
    /// (children inherit them) until destruction.
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

    /// Copies build/bin/<program> to <product>/<relative>, executable.
    void install(std::string_view program, const fs::path& relative);

    /// The usual tree: bin/trelmerge, bin/zorv_service, bin/trelmergeutf8, and client as
    /// ZorvHome/zorvexplorer when given.
    void install_product(std::string_view client = {});

    /// Ends (SIGKILL) every process whose executable lies in this sandbox's product tree.
    void kill_product_processes() const;

  private:
    fs::path root_;
    std::string old_tmpdir_;
    bool had_tmpdir_ = false;
    std::string old_pipe_dir_;
    bool had_pipe_dir_ = false;
};

}  // namespace test_support

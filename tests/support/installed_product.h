// A product installed in a test's sandbox, and its programs run as a user runs them: from the
// product's bin folder, in a folder of the test's own files, each run with a deadline.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"

namespace test_support {

using environment = std::map<std::string, std::string>;

class installed_product {
  public:
    /// A fresh sandbox with its files folder; nothing installed yet (box.install,
    /// box.install_product).
    installed_product();

    sandbox box;
    /// Added to the environment of every run. The front end's connect pause is short, so
    /// that no run sleeps for real.
    environment env{{"VARNEX_CONNECT_PAUSE_MS", "20"}};
    /// How long a run may take before it is killed.
    std::chrono::milliseconds deadline = std::chrono::seconds(60);
    /// Where the programs run and file() writes: the sandbox's files folder, or a folder
    /// that a test names (created when it is set here).
    std::filesystem::path folder;

    /// Runs bin/<program> of the product with args in folder; extra is added to env for this
    /// run.
    run_result run(std::string_view program, const std::vector<std::string>& args,
                   const environment& extra = {});
    run_result trelmerge(const std::vector<std::string>& args, const environment& extra = {}) {
        return run("trelmerge", args, extra);
    }
    /// Starts bin/<program> as run does, without waiting for its end.
    background_program start(std::string_view program, const std::vector<std::string>& args,
                             const environment& extra = {});

    /// Writes a file in folder; returns its name.
    std::string file(const std::string& name, std::string_view content = "x\n");
    /// A file of folder; "" when there is none.
    std::string read(const std::string& name) const;

    std::filesystem::path program(std::string_view name) const;  // bin/<name>, with suffix
    std::filesystem::path product() const;                       // links resolved
    std::filesystem::path files() const;                         // folder, links resolved

    /// A file of the per-user work directory (a log); "" when there is none.
    std::string work_file(std::string_view name) const;
    std::string service_log() const { return work_file("zorv_service.log"); }
    /// The process id in the pid file; none unless it holds digits alone.
    std::optional<int> service_pid() const;

  private:
    run_options options_for(const environment& extra) const;
    std::vector<std::string> command(std::string_view program,
                                     const std::vector<std::string>& args) const;
};

}  // namespace test_support

// A sandbox product tree with the fake client installed, and ways to drive it as front
// ends do.
#pragma once

#include <chrono>
#include <string>

#include "tests/support/front_end_exchange.h"
#include "tests/support/installed_product.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"

namespace service_e2e {

namespace fs = std::filesystem;

inline constexpr auto run_deadline = std::chrono::seconds(30);

using test_support::exchange;
using test_support::launcher_pipe_name;

class world : public test_support::installed_product {
  public:
    /// Installs the product with the fake client, which answers in mode, and puts files
    /// a.txt and b.txt in the files folder.
    explicit world(const std::string& mode = "true");

    fs::path client_dir;  // where the fake client records what it saw

    std::string client_file(const std::string& name) const;
    /// Waits until the client has recorded name.
    bool wait_client_file(const std::string& name) const;
};

/// True while pid names a process that has not ended (a zombie has ended).
bool process_alive(int pid);

}  // namespace service_e2e

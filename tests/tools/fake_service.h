// Plays the relay service towards a real client program: owns the wrapper pipe, announces
// pairs and exchanges one message on each. Every blocking step has a deadline.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/pipe.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"

namespace tools_test {

inline constexpr auto step_deadline = std::chrono::seconds(20);

/// Runs work on a thread; when it has not finished by deadline, calls unblock (which must
/// make work return) and reports false.
bool finish_within(std::chrono::milliseconds deadline, const std::function<void()>& work,
                   const std::function<void()>& unblock);

/// A pipe pair, created and announced.
struct announced_pair {
    std::string request_name, response_name;
    platform::pipe request, response;
};

class fake_service {
  public:
    /// Starts the client program (build/bin/<program>) on a fresh wrapper pipe and waits
    /// until it has opened it. The sandbox must exist for as long as this object.
    explicit fake_service(const std::string& program = "zorvexplorer");
    ~fake_service();

    bool client_connected() const { return connected_; }

    /// Creates a pair, announces it and waits until the client has opened both ends.
    std::optional<announced_pair> announce();

    /// Sends message on the pair and reads the answer; nothing on a broken pipe or time-out.
    std::optional<std::string> exchange(announced_pair& pair, const std::string& message);

    /// announce() and exchange().
    std::optional<std::string> request(const std::string& message);

    /// Closes the wrapper pipe, as a service that has gone.
    void close_wrapper() { wrapper_.close(); }

    test_support::background_program& client() { return *client_; }

  private:
    std::string name(const std::string& what);
    void unblock(const std::vector<std::string>& names);

    int counter_ = 0;
    std::string wrapper_name_;
    platform::pipe wrapper_;
    std::unique_ptr<test_support::background_program> client_;
    bool connected_ = false;
};

/// The XML-RPC framing of the relay: "POST /RPC2 ..." and body.
std::string framed(const std::string& body);

/// A call text as the front end writes it; output only for merges.
std::string call_text(const std::string& method, const std::optional<std::string>& output,
                      const std::vector<std::string>& names, const std::vector<std::string>& files,
                      const std::string& type);

/// What the front end concludes from an answer: the first boolean's 20-character window.
bool front_end_reads_true(const std::string& answer);

}  // namespace tools_test

// The accept loop against a fake listener that scripts every outcome and records what the
// loop did with it: where each front end went, what was logged, how long the loop paused
// and how the service ended.
#include "service/accept_loop.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using platform::connect_status;
using platform::create_error;
constexpr connect_status connected = connect_status::connected;
constexpr connect_status failed = connect_status::failed;

// Thrown once the scripted front ends have all come: the service would wait on.
struct no_more_front_ends {};

// What the fake's calls give, in order; once a list runs out, every further call succeeds.
struct script {
    std::deque<connect_status> waits = {};  // one per front end
    std::deque<create_error> instances = {};
    std::deque<bool> launches = {};
    std::deque<bool> watches = {};
    std::deque<bool> request_pipes = {};
    std::deque<bool> response_pipes = {};
    std::deque<bool> announcements = {};
    std::deque<bool> relay_starts = {};
    std::deque<bool> first_finds = {};
};

template <class T>
T take(std::deque<T>& outcomes, T otherwise) {
    if (outcomes.empty()) return otherwise;
    const T first = outcomes.front();
    outcomes.pop_front();
    return first;
}

class fake_listener final : public service::listener {
  public:
    explicit fake_listener(script given) : given_(std::move(given)) {}

    std::vector<std::string> events;
    std::vector<std::string> fates;  // of each front end: "relay N" (the Nth started) or "dropped"
    std::string log_text;            // as the log file holds it
    std::vector<int> pauses_ms;
    int launches = 0;

    connect_status wait_for_front_end() override {
        if (given_.waits.empty()) throw no_more_front_ends{};
        events.push_back("wait");
        return take(given_.waits, connected);
    }
    create_error create_next_instance() override {
        events.push_back("next instance");
        return take(given_.instances, create_error::none);
    }
    void drop_front_end() override {
        events.push_back("drop");
        fates.push_back("dropped");
    }
    void hand_front_end(service::relay_job& relay) override {
        for (std::size_t i = 0; i < relays_.size(); ++i) {
            if (relays_[i].get() != &relay) continue;
            events.push_back("hand to relay " + std::to_string(i + 1));
            fates.push_back("relay " + std::to_string(i + 1));
        }
    }
    void listen_on_next() override { events.push_back("listen on next"); }
    bool launch_client(const std::string& client_folder) override {
        events.push_back("launch " + client_folder);
        ++launches;
        return take(given_.launches, true);
    }
    bool start_client_watch() override {
        events.push_back("watch");
        return take(given_.watches, true);
    }
    bool announce(std::string_view announcement) override {
        events.push_back("announce " + std::string(announcement));
        return take(given_.announcements, true);
    }
    bool first_to_find_client_gone() override { return take(given_.first_finds, true); }
    void wait_for_relays_in_flight() override { events.push_back("wait for relays"); }
    std::string new_pair_pipe_name() override { return "pair-" + std::to_string(++names_); }
    bool create_request_pipe(service::relay_job&, std::string_view name) override {
        events.push_back("request pipe " + std::string(name));
        return take(given_.request_pipes, true);
    }
    bool create_response_pipe(service::relay_job&, std::string_view name) override {
        events.push_back("response pipe " + std::string(name));
        return take(given_.response_pipes, true);
    }
    service::relay_job* start_relay(std::unique_ptr<service::relay_job> job) override {
        if (!take(given_.relay_starts, true)) return nullptr;
        relays_.push_back(std::move(job));
        events.push_back("start relay " + std::to_string(relays_.size()));
        return relays_.back().get();
    }
    void log(std::string_view line) override {
        log_text += line;
        log_text += '\n';
    }
    void pause(std::chrono::milliseconds how_long) override {
        pauses_ms.push_back(static_cast<int>(how_long.count()));
    }

  private:
    script given_;
    int names_ = 0;
    std::vector<std::unique_ptr<service::relay_job>> relays_;  // as their threads would own them
};

const std::string client_folder = "/opt/varnex/ZorvHome";

// The loop's exit status; none while it still serves when the front ends have all come.
std::optional<int> run(fake_listener& io, std::optional<std::string> folder = client_folder) {
    service::service_config config;
    config.client_folder = std::move(folder);
    try {
        return service::accept_loop(config, io);
    } catch (const no_more_front_ends&) {
        return std::nullopt;
    }
}

template <class T>
std::deque<T> times(int n, T value, std::deque<T> then = {}) {
    std::deque<T> all(static_cast<std::size_t>(n), value);
    all.insert(all.end(), then.begin(), then.end());
    return all;
}

TEST(accept_loop, hands_on_drops_or_ends_with_the_line_and_status_of_what_failed) {
    struct row {
        const char* what;
        script given;
        std::optional<int> status;  // none: still serving
        std::vector<std::string> fates;
        std::string log;
        int launches = 1;
        std::vector<int> pauses_ms = {};
        std::optional<std::string> folder = client_folder;
    };
    const std::vector<std::string> dropped_then_served = {"dropped", "relay 1"};
    const row rows[] = {
        {"each front end goes to the relay started ahead for it; one launch",
         {.waits = {connected, connected, connected}},
         std::nullopt,
         {"relay 1", "relay 2", "relay 3"},
         ""},
        {"a failed wait drops its instance and the loop goes on",
         {.waits = {failed, connected}},
         std::nullopt,
         dropped_then_served,
         ""},
        {"started without a client folder",
         {.waits = {connected, connected}},
         -1,
         {},
         "Path of zorv path is not passed by argv, quitting...\n",
         0,
         {},
         std::nullopt},
        {"a client that cannot be launched",
         {.waits = {connected, connected}, .launches = {false}},
         -1,
         {},
         "Failed to launch ZORV \n\n"},
        {"a client watch that cannot start",
         {.waits = {connected}, .watches = {false}},
         std::nullopt,
         {"relay 1"},
         "Could not start watching ZORV\n"},
        {"a request pipe that cannot be created",
         {.waits = {connected, connected}, .request_pipes = {false}},
         std::nullopt,
         dropped_then_served,
         "Could not create ZORV_Request_pipe\n\n"},
        {"a response pipe that cannot be created",
         {.waits = {connected, connected}, .response_pipes = {false}},
         std::nullopt,
         dropped_then_served,
         "Could not create ZORV_Response_pipe\n"},
        {"a relay thread that cannot start",
         {.waits = {connected, connected}, .relay_starts = {false}},
         std::nullopt,
         dropped_then_served,
         "Could not start a relay thread, request dropped\n"},
        {"an announcement that cannot be written: the client has gone",
         {.waits = {connected, connected}, .announcements = {false}},
         -1,
         {},
         "ZORV quit unexpectedly...exiting\n"},
        {"the client's end found by its watch first is logged once, by the watch",
         {.waits = {connected, connected}, .announcements = {false}, .first_finds = {false}},
         -1,
         {},
         ""},
        {"the client gone when the relay ahead is announced",
         {.waits = {connected, connected}, .announcements = {true, false}},
         -1,
         {"relay 1"},
         "ZORV quit unexpectedly...exiting\n"},
        {"a next instance that cannot be created, once this front end is served",
         {.waits = {connected, connected}, .instances = {create_error::failed}},
         -1,
         {"relay 1"},
         "Could not create launcher request pipe\n\n"},
        {"a next instance that cannot be created after a failed wait",
         {.waits = {failed, connected}, .instances = {create_error::failed}},
         -1,
         {"dropped"},
         "Could not create launcher request pipe\n\n",
         0},
        {"every instance busy: tried again at doubling pauses up to 100 ms",
         {.waits = {connected}, .instances = times(10, create_error::all_instances_busy)},
         std::nullopt,
         {"relay 1"},
         "",
         1,
         {1, 2, 4, 8, 16, 32, 64, 100, 100}},
        {"failed waits paced at doubling pauses up to 500 ms, until a front end comes",
         {.waits = times(12, failed, {connected, failed})},
         std::nullopt,
         {"dropped", "dropped", "dropped", "dropped", "dropped", "dropped", "dropped", "dropped",
          "dropped", "dropped", "dropped", "dropped", "relay 1", "dropped"},
         "",
         1,
         {1, 2, 4, 8, 16, 32, 64, 128, 256, 500, 500}},
    };
    for (const row& r : rows) {
        fake_listener io(r.given);
        EXPECT_EQ(run(io, r.folder), r.status) << r.what;
        EXPECT_EQ(io.fates, r.fates) << r.what;
        EXPECT_EQ(io.log_text, r.log) << r.what;
        EXPECT_EQ(io.launches, r.launches) << r.what;
        EXPECT_EQ(io.pauses_ms, r.pauses_ms) << r.what;
    }
}

TEST(accept_loop, creates_the_next_instance_and_announces_the_pair_before_the_hand_over) {
    fake_listener io({.waits = {connected, connected}});
    EXPECT_EQ(run(io), std::nullopt);
    const std::vector<std::string> expected = {
        "wait",
        "next instance",
        "launch /opt/varnex/ZorvHome",
        "watch",
        "request pipe pair-1",
        "response pipe pair-2",
        "announce pair-1\npair-2\n",
        "start relay 1",
        "hand to relay 1",
        // The relay for the next front end, ready before it comes.
        "request pipe pair-3",
        "response pipe pair-4",
        "announce pair-3\npair-4\n",
        "start relay 2",
        "listen on next",
        "wait",
        "next instance",
        "hand to relay 2",
        "request pipe pair-5",
        "response pipe pair-6",
        "announce pair-5\npair-6\n",
        "start relay 3",
        "listen on next",
    };
    EXPECT_EQ(io.events, expected);
}

TEST(accept_loop, lets_the_relays_in_flight_finish_before_ending_for_the_client) {
    fake_listener io({.waits = {connected}, .announcements = {true, false}});
    EXPECT_EQ(run(io), -1);
    ASSERT_GE(io.events.size(), 2u);
    EXPECT_EQ(io.events[io.events.size() - 2], "announce pair-3\npair-4\n");
    EXPECT_EQ(io.events.back(), "wait for relays");
}

}  // namespace

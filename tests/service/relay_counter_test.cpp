#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "service/service_state.h"

namespace {

using std::chrono::milliseconds;

TEST(relay_counter, wait_until_none_ends_with_the_last_relay_or_at_its_limit) {
    service::relay_counter relays;
    EXPECT_TRUE(relays.wait_until_none(milliseconds(0)));

    relays.started();
    relays.started();
    relays.finished();
    EXPECT_FALSE(relays.wait_until_none(milliseconds(20)));

    // The last relay ends on another thread while the wait is on: the wait ends with it,
    // long before its limit.
    const auto started = std::chrono::steady_clock::now();
    std::thread last([&] { relays.finished(); });
    EXPECT_TRUE(relays.wait_until_none(milliseconds(20000)));
    EXPECT_LT(std::chrono::steady_clock::now() - started, milliseconds(10000));
    last.join();
}

}  // namespace

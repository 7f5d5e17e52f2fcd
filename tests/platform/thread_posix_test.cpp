#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread.h"

namespace {

struct counter {
    std::mutex m;
    std::condition_variable cv;
    int runs = 0;
};

void count_run(void* arg) {
    auto* c = static_cast<counter*>(arg);
    std::lock_guard lock(c->m);
    ++c->runs;
    c->cv.notify_all();
}

TEST(start_detached_thread, runs_every_thread_with_default_and_given_stacks) {
    counter c;
    constexpr int threads = 40;
    for (int i = 0; i < threads; ++i) {
        const std::size_t stack = i % 2 == 0 ? 0 : 256 * 1024;
        ASSERT_TRUE(platform::start_detached_thread(count_run, &c, stack));
    }
    std::unique_lock lock(c.m);
    EXPECT_TRUE(c.cv.wait_for(lock, std::chrono::seconds(20), [&] { return c.runs == threads; }));
}

TEST(start_detached_thread, refuses_an_impossible_stack_size) {
    counter c;
    // Below the minimum stack size: no thread is created and nothing leaks.
    EXPECT_FALSE(platform::start_detached_thread(count_run, &c, 1));
}

}  // namespace

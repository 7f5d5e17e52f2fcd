// A pipe pair that cannot be made: the service logs which pipe failed and keeps nothing of
// the pair open. Descriptors run out in this process to make the creation fail.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>

#include "service/accept_loop.h"
#include "service/pipe_listener.h"
#include "tests/support/sandbox.h"

namespace {

// The lowest descriptor number free in this process: the next one opened.
int lowest_free_descriptor() {
    const int fd = ::dup(0);
    if (fd >= 0) ::close(fd);
    return fd;
}

TEST(prepare_relay, logs_the_pipe_that_cannot_be_made_and_keeps_nothing_open) {
    struct row {
        int room;  // descriptors left free: 0 for none, 1 for the request pipe alone
        std::string line;
    };
    const row rows[] = {
        {0, "Could not create ZORV_Request_pipe\n\n"},
        {1, "Could not create ZORV_Response_pipe\n"},
    };
    test_support::sandbox box;  // a private pipe directory
    service::pipe_listener io("pairtest", false, {});
    // UBSan checks each virtual call's object by reading its vtable through a pipe of its
    // own, and remembers what it has seen: the calls that prepare_relay makes once the
    // descriptors have run out are made here first, through a pointer that the compiler
    // cannot see through, while descriptors are free.
    service::listener* volatile seen = &io;
    {
        service::relay_job warm_up;
        (void)seen->create_request_pipe(warm_up, seen->new_pair_pipe_name());
        (void)seen->create_response_pipe(warm_up, seen->new_pair_pipe_name());
    }
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    for (const row& r : rows) {
        const int first_free = lowest_free_descriptor();
        ASSERT_GE(first_free, 0);
        service::relay_job* relay = nullptr;
        // No log file is open in this process, so the line goes to standard output.
        testing::internal::CaptureStdout();
        rlimit lowered = saved;
        lowered.rlim_cur = static_cast<rlim_t>(lowest_free_descriptor() + r.room);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
        const service::prepared result = prepare_relay(io, relay);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), r.line) << r.room;
        EXPECT_EQ(result, service::prepared::failed) << r.room;
        EXPECT_EQ(relay, nullptr) << r.room;
        EXPECT_EQ(lowest_free_descriptor(), first_free) << r.room;
    }
}

}  // namespace

#include "tests/support/front_end_exchange.h"

#include <cstdint>

#include "common/login_name.h"
#include "common/pipe_names.h"
#include "platform/pipe.h"

namespace test_support {

std::string launcher_pipe_name() {
    return common::launcher_request_pipe_name(common::login_name());
}

std::optional<std::string> exchange(const std::string& request,
                                    std::chrono::milliseconds patience) {
    using clock = std::chrono::steady_clock;
    const std::string name = launcher_pipe_name();
    const clock::time_point end = clock::now() + patience;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - clock::now());
        if (left.count() <= 0 ||
            !platform::wait_named_pipe(name, static_cast<std::uint32_t>(left.count()))) {
            return std::nullopt;
        }
        // Another front end may take the free instance first.
        platform::pipe pipe = platform::pipe::open(name, platform::pipe_open::read_write);
        if (!pipe.valid()) continue;
        if (!pipe.set_message_read_mode() || !pipe.write(request)) return std::nullopt;
        std::string reply;
        char buffer[65536];
        for (;;) {
            const platform::io_result r = pipe.read(buffer, sizeof buffer);
            if (r.status == platform::io_status::failed) return std::nullopt;
            reply.append(buffer, r.count);
            if (r.status == platform::io_status::ok) return reply;
        }
    }
}

}  // namespace test_support

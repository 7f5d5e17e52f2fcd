// bench_round_trip PIPE MESSAGE_SIZE: the baseline for a warm front-end run. Started the way
// the front end is, it makes one request/answer round trip on a local pipe and exits.
#include <cstdlib>
#include <string>

#include "platform/pipe.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    platform::pipe pipe = platform::pipe::open(argv[1], platform::pipe_open::read_write);
    if (!pipe.valid()) return 1;
    const std::string request(static_cast<std::size_t>(std::atol(argv[2])), 'r');
    if (!pipe.write(request)) return 1;
    char reply[1024];
    return pipe.read(reply, sizeof reply - 1).status == platform::io_status::failed ? 1 : 0;
}

// Test helper: serves a pipe as the relay service serves its launcher request pipe (many
// instances, one request and one reply per connection) and answers "echo:" + the request.
// The request "no reply" is dropped unanswered. Prints "ready" once clients may connect.
//
// Usage: pipe_echo_server <pipe name> <connections to serve>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/pipe.h"

namespace {

constexpr std::string_view no_reply_request = "no reply";

std::string read_message(platform::pipe& p) {
    std::string text;
    char buffer[4096];
    for (;;) {
        auto r = p.read(buffer, 4095);
        if (r.status == platform::io_status::failed) return text;
        text.append(buffer, r.count);
        if (r.status == platform::io_status::ok) return text;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pipe_echo_server <pipe name> <connections>\n");
        return 2;
    }
    const std::string name = argv[1];
    const int connections = std::atoi(argv[2]);
    platform::pipe_server_options options;
    options.max_instances = platform::unlimited_instances;
    platform::pipe listening = platform::pipe::create_server(name, options);
    if (!listening.valid()) {
        std::fprintf(stderr, "cannot create %s\n", name.c_str());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (int served = 0; served < connections; ++served) {
        if (listening.wait_for_client() != platform::connect_status::connected) return 1;
        platform::pipe instance = std::move(listening);
        listening = platform::pipe::create_server(name, options);
        const std::string request = read_message(instance);
        if (request != no_reply_request) {
            instance.write("echo:" + request);
            instance.flush();
        }
        instance.disconnect();
    }
    return 0;
}

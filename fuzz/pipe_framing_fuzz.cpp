// The pipe framing reader behind the relay's message reader: arbitrary bytes from a peer
// (length headers that lie, messages cut short) must never crash the reader, make it
// allocate what never arrived, or give a message longer than what was sent.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/pipe.h"
#include "service/relay.h"

namespace {

const std::string pipe_name = R"(\\.\pipe\fuzz_framing)";

// The run's pipe directory, removed when libFuzzer ends the process.
std::string scratch_dir;

void remove_scratch_dir() {
    ::unlink(platform::pipe_socket_path(pipe_name, scratch_dir).c_str());
    ::rmdir(scratch_dir.c_str());
}

struct fixture {
    std::string socket_path;
    platform::pipe server;

    fixture() {
        char dir[] = "/tmp/varnex-fuzz-XXXXXX";
        if (::mkdtemp(dir) == nullptr) std::abort();
        ::setenv("VARNEX_PIPE_DIR", dir, 1);
        socket_path = platform::pipe_socket_path(pipe_name, dir);
        scratch_dir = dir;
        std::atexit(remove_scratch_dir);
    }

    // A fresh server instance per input: a message cut short leaves nothing behind.
    platform::pipe next_instance() {
        platform::pipe_server_options options;
        options.max_instances = platform::unlimited_instances;
        return platform::pipe::create_server(pipe_name, options);
    }
};

int connect_raw(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) std::abort();
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fixture f;
    // Inputs stay within the socket's buffer, so the whole input is written before it is
    // read, on one thread.
    if (size > 65536) return 0;
    platform::pipe server = f.next_instance();
    if (!server.valid()) std::abort();
    const int peer = connect_raw(f.socket_path);
    if (::send(peer, data, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) std::abort();
    ::shutdown(peer, SHUT_WR);
    if (server.wait_for_client() != platform::connect_status::connected) std::abort();
    std::size_t total = 0;
    for (int messages = 0; messages < 64; ++messages) {
        platform::message_buffer buffer;
        const bool whole = service::read_pipe_message(server, buffer);
        total += buffer.size();
        if (total > size) std::abort();
        if (!whole || buffer.size() == 0) break;
    }
    ::close(peer);
    server.disconnect();
    return 0;
}

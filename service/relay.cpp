#include "service/relay.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>

#include "common/work_dir.h"

namespace {

constexpr std::string_view header_start = "POST /RPC2 HTTP/1.1\r\nContent-Length: ";
constexpr std::string_view header_end = "\r\n\r\n";

// Reads start with this much room; a longer message doubles it, so a large request costs
// a few reads and copies rather than one per 4 KiB.
constexpr std::size_t first_read_size = 4096;

}  // namespace

std::size_t format_request_header(char* out, std::size_t length) {
    char* p = out;
    std::memcpy(p, header_start.data(), header_start.size());
    p += header_start.size();
    p = std::to_chars(p, out + max_request_header, length).ptr;
    std::memcpy(p, header_end.data(), header_end.size());
    p += header_end.size();
    return static_cast<std::size_t>(p - out);
}

std::string frame_request(std::string_view body) {
    char header[max_request_header];
    const std::size_t header_size = format_request_header(header, body.size());
    std::string framed;
    framed.reserve(header_size + body.size());
    framed.append(header, header_size);
    framed.append(body);
    return framed;
}

void append_pipe_message(platform::pipe& pipe, std::string& text) {
    std::size_t used = text.size();
    for (;;) {
        const std::size_t room = std::max(first_read_size, used);
        text.resize(used + room);
        const platform::io_result r = pipe.read(text.data() + used, room);
        if (r.status == platform::io_status::failed) break;
        used += r.count;
        if (r.status == platform::io_status::ok || r.count == 0) break;
    }
    text.resize(used);
}

std::string read_pipe_message(platform::pipe& pipe) {
    std::string text;
    append_pipe_message(pipe, text);
    return text;
}

void relay_thread(void* raw_job) {
    std::unique_ptr<relay_job> job(static_cast<relay_job*>(raw_job));

    // The client opens the pair in either order; a pipe it opened already counts.
    (void)job->request_pipe.wait_for_client();
    (void)job->response_pipe.wait_for_client();

    // The request is read behind room for its head, so head and body go out in one write
    // without copying the body again.
    std::string framed(max_request_header, '\0');
    append_pipe_message(job->launcher_pipe, framed);
    const std::size_t body_size = framed.size() - max_request_header;
    char header[max_request_header];
    const std::size_t header_size = format_request_header(header, body_size);
    char* const start = framed.data() + (max_request_header - header_size);
    std::memcpy(start, header, header_size);
    (void)job->request_pipe.write(std::string_view(start, header_size + body_size));

    const std::string answer = read_pipe_message(job->response_pipe);
    if (answer.empty()) {
        // The front end's read fails when it is disconnected unanswered.
        write_log_line(empty_response_text);
    } else {
        (void)job->launcher_pipe.write(answer);
        (void)job->launcher_pipe.flush();
    }

    job->launcher_pipe.disconnect();
    job->request_pipe.disconnect();
    job->response_pipe.disconnect();
    job->launcher_pipe.close();
    job->request_pipe.close();
    job->response_pipe.close();
}

#include "service/relay.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "common/work_dir.h"
#include "service/service_driver.h"
#include "service/service_state.h"

namespace {

constexpr std::string_view header_start = "POST /RPC2 HTTP/1.1\r\nContent-Length: ";
constexpr std::string_view header_end = "\r\n\r\n";

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

bool read_pipe_message_into(platform::pipe& pipe, message_buffer& buffer) {
    return platform::read_message_into(pipe, buffer);
}

std::string read_pipe_message(platform::pipe& pipe) {
    message_buffer buffer;
    (void)read_pipe_message_into(pipe, buffer);
    return std::string(buffer.view());
}

namespace {

// Forwards the front end's request behind its head; false when it could not be read whole.
bool forward_request(relay_job& job) {
    // The request is read behind room for its head, so head and body go out in one write
    // without copying the body again.
    message_buffer framed;
    if (!framed.reserve(max_request_header)) return false;
    framed.resize_within_capacity(max_request_header);
    if (!read_pipe_message_into(job.launcher_pipe, framed)) return false;
    const std::size_t body_size = framed.size() - max_request_header;
    char header[max_request_header];
    const std::size_t header_size = format_request_header(header, body_size);
    char* const start = framed.data() + (max_request_header - header_size);
    std::memcpy(start, header, header_size);
    (void)job.request_pipe.write(std::string_view(start, header_size + body_size));
    return true;
}

}  // namespace

void relay_thread(void* raw_job) {
    std::unique_ptr<relay_job> job(static_cast<relay_job*>(raw_job));

    // The client opens the pair in either order; a pipe it opened already counts.
    (void)job->request_pipe.wait_for_client();
    (void)job->response_pipe.wait_for_client();
    std::atomic<int>& in_flight = the_service().relays_in_flight;
    ++in_flight;

    if (!forward_request(*job)) {
        // A request that does not fit in memory is dropped rather than forwarded cut short.
        write_log_line(out_of_memory_text);
    } else {
        message_buffer answer;
        if (!read_pipe_message_into(job->response_pipe, answer)) {
            write_log_line(out_of_memory_text);
        } else if (answer.size() == 0) {
            // The front end's read fails when it is disconnected unanswered.
            write_log_line(empty_response_text);
        } else {
            (void)job->launcher_pipe.write(answer.view());
            (void)job->launcher_pipe.flush();
        }
    }

    job->launcher_pipe.disconnect();
    job->request_pipe.disconnect();
    job->response_pipe.disconnect();
    job->launcher_pipe.close();
    job->request_pipe.close();
    job->response_pipe.close();
    --in_flight;
}

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

// Most requests arrive in one read of this size.
constexpr std::size_t first_read_size = 4096;

// Forwards the front end's request behind its head. The first part of the request is read
// behind room for its head, so that head and body go out in one write without a second copy;
// a longer request then passes on as it arrives, its length known from the first read, so
// that the relay never holds it whole. A front end that goes away in the middle of its
// request leaves the client a cut message, which it drops and answers with nothing.
void forward_request(relay_job& job) {
    char framed[max_request_header + first_read_size];
    char* const body = framed + max_request_header;
    const platform::io_result first = job.launcher_pipe.read(body, first_read_size);
    // A front end that closed without writing sends an empty request.
    const std::size_t first_size = first.status == platform::io_status::failed ? 0 : first.count;
    const bool more = first.status == platform::io_status::more_data;
    const std::size_t body_size = first_size + (more ? job.launcher_pipe.message_bytes_left() : 0);
    char header[max_request_header];
    const std::size_t header_size = format_request_header(header, body_size);
    char* const start = body - header_size;
    std::memcpy(start, header, header_size);
    const std::string_view head_and_first(start, header_size + first_size);
    if (more) {
        (void)job.request_pipe.write_with_rest_of(job.launcher_pipe, head_and_first);
    } else {
        (void)job.request_pipe.write(head_and_first);
    }
}

}  // namespace

void hand_front_end(relay_job& job, platform::pipe launcher) {
    job.launcher_pipe = std::move(launcher);
    job.front_end_ready.store(true, std::memory_order_release);
    job.front_end_ready.notify_one();
}

void relay_thread(void* raw_job) {
    std::unique_ptr<relay_job> job(static_cast<relay_job*>(raw_job));

    // The client opens the pair in either order; a pipe it opened already counts.
    (void)job->request_pipe.wait_for_client();
    (void)job->response_pipe.wait_for_client();
    // A relay started with its pair, ahead of the front end, waits for it here.
    job->front_end_ready.wait(false, std::memory_order_acquire);
    std::atomic<int>& in_flight = the_service().relays_in_flight;
    ++in_flight;

    forward_request(*job);
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

    job->launcher_pipe.disconnect();
    job->request_pipe.disconnect();
    job->response_pipe.disconnect();
    job->launcher_pipe.close();
    job->request_pipe.close();
    job->response_pipe.close();
    --in_flight;
}

#include "service/relay.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "common/work_dir.h"
#include "service/service_state.h"
#include "service/service_texts.h"

namespace service {

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

bool read_pipe_message(platform::pipe& pipe, message_buffer& buffer, platform::pipe* watched,
                       bool* watched_gone) {
    return platform::read_message_into(pipe, buffer, watched, watched_gone);
}

namespace {

// Most requests arrive in one read of this size.
constexpr std::size_t first_read_size = 4096;

// How a relay step ended: on failed the relay ends, and its front end's read fails when it
// is disconnected.
enum class step { done, failed };

bool cut_short(platform::pipe& pipe) {
    // A pipe that broke inside a message still holds the part that never came.
    return pipe.message_bytes_left() > 0;
}

// Forwards the front end's request behind its head. The first part of the request is read
// behind room for its head, so that head and body go out in one write without a second copy;
// a longer request then passes on as it arrives, its length known from the first read, so
// that the relay never holds it whole. A request cut short is dropped: cut within its first
// part, nothing is forwarded; cut later, the client gets a cut message, which it drops.
step forward_request(relay_job& job) {
    char framed[max_request_header + first_read_size];
    char* const body = framed + max_request_header;
    const platform::io_result first = job.launcher_pipe.read(body, first_read_size);
    if (first.status == platform::io_status::failed && cut_short(job.launcher_pipe)) {
        common::write_log_line(request_cut_text);
        return step::failed;
    }
    // A front end that closed without writing sends an empty request.
    const std::size_t first_size = first.status == platform::io_status::failed ? 0 : first.count;
    const bool more = first.status == platform::io_status::more_data;
    const std::size_t body_size = first_size + (more ? job.launcher_pipe.message_bytes_left() : 0);
    if (!framed_request_fits(body_size)) {
        common::write_log_line(request_too_large_text);
        return step::failed;
    }
    char header[max_request_header];
    const std::size_t header_size = format_request_header(header, body_size);
    char* const start = body - header_size;
    std::memcpy(start, header, header_size);
    const std::string_view head_and_first(start, header_size + first_size);
    const bool written =
        more ? job.request_pipe.write_with_rest_of(job.launcher_pipe, head_and_first)
             : job.request_pipe.write(head_and_first);
    if (!written) {
        common::write_log_line(cut_short(job.launcher_pipe) ? request_cut_text
                                                            : forward_failure_text);
        return step::failed;
    }
    return step::done;
}

// Passes the client's answer to the front end. A front end that hangs up while the client
// is still at work ends the pair, so that the client learns that nobody waits for the answer
// (a merge page it shows must not write the output any more).
void answer_front_end(relay_job& job) {
    message_buffer answer;
    bool front_end_gone = false;
    if (!read_pipe_message(job.response_pipe, answer, &job.launcher_pipe, &front_end_gone)) {
        common::write_log_line(out_of_memory_text);
    } else if (front_end_gone) {
        common::write_log_line(front_end_gone_text);
    } else if (cut_short(job.response_pipe)) {
        common::write_log_line(answer_cut_text);
    } else if (answer.size() == 0) {
        // The front end's read fails when it is disconnected unanswered.
        common::write_log_line(empty_response_text);
    } else {
        (void)job.launcher_pipe.write(answer.view());
        (void)job.launcher_pipe.flush();
    }
}

// Waits until the client has opened both pipes of the pair, in either order; a pipe it
// opened already counts. A client that never does (killed, stopped, faulty) must not hold the
// relay and its front end for ever, so the pair time-out runs from the hand-over of the front
// end: a relay started ahead waits as long as it takes before that, since a client that is
// slow while nobody needs the pair must not cost the next front end its request.
bool wait_for_pair(relay_job& job) {
    using clock = std::chrono::steady_clock;
    const std::chrono::milliseconds timeout(the_service().pair_timeout_ms);
    for (;;) {
        const bool handed = job.front_end_ready.load(std::memory_order_acquire);
        // Unhanded, one round of the time-out's length: a hand-over during it comes at most
        // that long before its own deadline, so the round never outlasts that deadline.
        const clock::time_point deadline = (handed ? job.handed_at : clock::now()) + timeout;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now());
        const auto wait_ms = static_cast<std::uint32_t>(std::max<std::int64_t>(left.count(), 0));
        const platform::connect_status status =
            platform::pipe::wait_for_clients(job.request_pipe, job.response_pipe, wait_ms);
        if (status == platform::connect_status::connected) return true;
        if (status == platform::connect_status::timed_out && !handed) continue;
        common::write_log_line(status == platform::connect_status::timed_out
                                   ? pair_timeout_text
                                   : pair_wait_failure_text);
        return false;
    }
}

}  // namespace

bool framed_request_fits(std::size_t body_size) {
    char header[max_request_header];
    const std::size_t header_size = format_request_header(header, body_size);
    return body_size <= max_pipe_message && header_size <= max_pipe_message - body_size;
}

void hand_front_end(relay_job& job, platform::pipe launcher) {
    job.launcher_pipe = std::move(launcher);
    job.handed_at = std::chrono::steady_clock::now();
    job.front_end_ready.store(true, std::memory_order_release);
    job.front_end_ready.notify_one();
}

void relay_thread(void* raw_job) {
    std::unique_ptr<relay_job> job(static_cast<relay_job*>(raw_job));

    const bool paired = wait_for_pair(*job);
    // A relay started with its pair, ahead of the front end, waits for it here; the accept
    // loop hands it one even when the pair was given up, and it is then dropped.
    job->front_end_ready.wait(false, std::memory_order_acquire);
    relay_counter& in_flight = the_service().relays_in_flight;
    if (paired) {
        in_flight.started();
        if (forward_request(*job) == step::done) answer_front_end(*job);
    }

    job->launcher_pipe.disconnect();
    job->request_pipe.disconnect();
    job->response_pipe.disconnect();
    job->launcher_pipe.close();
    job->request_pipe.close();
    job->response_pipe.close();
    if (paired) in_flight.finished();
}

}  // namespace service

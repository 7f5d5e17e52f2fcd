// Relaying one front-end request to the client over a pipe pair, and its answer back.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/message_buffer.h"
#include "platform/pipe.h"
#include "service/service_texts.h"

namespace service {

struct relay_job {
    platform::pipe launcher_pipe;
    platform::pipe request_pipe;
    platform::pipe response_pipe;
    /// False while a relay started ahead of its front end waits for launcher_pipe; the
    /// accept loop fills launcher_pipe and handed_at, then sets this and wakes the relay.
    std::atomic<bool> front_end_ready{true};
    /// When the front end was handed over: the pair time-out runs from here.
    std::chrono::steady_clock::time_point handed_at = std::chrono::steady_clock::now();
};

/// Gives a relay started ahead its front end's connection.
void hand_front_end(relay_job& job, platform::pipe launcher);

/// Test hook: the pair time-out in milliseconds, so that tests need not wait out 30 s.
inline constexpr const char* pair_timeout_env = "VARNEX_PAIR_TIMEOUT_MS";

/// The longest message a pipe carries: its length must fit 32 bits.
inline constexpr std::size_t max_pipe_message = 0xFFFFFFFF;

/// Whether a request of body_size bytes still fits one pipe message behind its head.
bool framed_request_fits(std::size_t body_size);

/// Stack of a relay thread. A relay keeps little on its stack and many may run at once: a
/// smaller stack than the platform's default let 64 concurrent relays move a fifth more.
inline constexpr std::size_t relay_stack_size = 256 * 1024;

/// Longest request head: the fixed text and a length of up to 20 digits.
inline constexpr std::size_t max_request_header = 64;

/// "POST /RPC2 HTTP/1.1\r\nContent-Length: N\r\n\r\n" for a body of length bytes, written
/// to out (max_request_header bytes); returns its length.
std::size_t format_request_header(char* out, std::size_t length);

/// "POST /RPC2 HTTP/1.1\r\nContent-Length: N\r\n\r\n" followed by body.
std::string frame_request(std::string_view body);

using platform::message_buffer;

/// Appends one whole message, every byte kept, to buffer; a pipe that breaks leaves what
/// came before. False only when memory ran out, with the message then incomplete. When
/// watched is given, the read gives up, with *watched_gone set, if watched's peer goes
/// before the message begins.
[[nodiscard]] bool read_pipe_message(platform::pipe& pipe, message_buffer& buffer,
                                     platform::pipe* watched = nullptr,
                                     bool* watched_gone = nullptr);

/// Serves one job and frees it; the start routine of a detached thread.
void relay_thread(void* job);

}  // namespace service

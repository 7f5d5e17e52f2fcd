// Relaying one front-end request to the client over a pipe pair, and its answer back.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/pipe.h"

struct relay_job {
    platform::pipe launcher_pipe;
    platform::pipe request_pipe;
    platform::pipe response_pipe;
};

inline constexpr std::string_view empty_response_text = "Got an empty response";

/// Longest request head: the fixed text and a length of up to 20 digits.
inline constexpr std::size_t max_request_header = 64;

/// "POST /RPC2 HTTP/1.1\r\nContent-Length: N\r\n\r\n" for a body of length bytes, written
/// to out (max_request_header bytes); returns its length.
std::size_t format_request_header(char* out, std::size_t length);

/// "POST /RPC2 HTTP/1.1\r\nContent-Length: N\r\n\r\n" followed by body.
std::string frame_request(std::string_view body);

/// Bytes of one message, in a block that grows without zero-filling and, for large sizes,
/// mostly without copying (realloc remaps the pages). Move-only.
class message_buffer {
  public:
    message_buffer() = default;
    ~message_buffer();
    message_buffer(message_buffer&& other) noexcept;
    message_buffer& operator=(message_buffer&& other) noexcept;
    message_buffer(const message_buffer&) = delete;
    message_buffer& operator=(const message_buffer&) = delete;

    /// Room for at least capacity bytes; false when memory ran out (the content stays).
    [[nodiscard]] bool reserve(std::size_t capacity);
    void resize_within_capacity(std::size_t size) { size_ = size; }
    char* data() { return data_; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    std::string_view view(std::size_t from = 0) const {
        return std::string_view(data_ + from, size_ - from);
    }

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

/// Appends one whole message, every byte kept, to buffer; a pipe that breaks leaves what
/// came before. False only when memory ran out, with the message then incomplete.
[[nodiscard]] bool read_pipe_message_into(platform::pipe& pipe, message_buffer& buffer);

/// One whole message, every byte kept; what came before a failure when the pipe breaks.
std::string read_pipe_message(platform::pipe& pipe);

/// Serves one job and frees it; the start routine of a detached thread.
void relay_thread(void* job);

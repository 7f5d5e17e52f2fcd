// The bytes of one pipe message, read into a block sized once from what the pipe says is
// left of the message.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/pipe.h"

namespace platform {

/// A block that grows without zero-filling and, for large sizes, mostly without copying
/// (realloc remaps the pages). Move-only.
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

/// Appends the rest of one message to buffer: a first read of a few KiB, then, when the
/// message goes on, the room it still needs at once (doubling where the pipe cannot tell).
/// A pipe that breaks leaves what came before. False only when memory ran out, with the
/// message then incomplete. When watched is given, the first read gives up, with
/// *watched_gone set and nothing read, if watched's peer goes before anything comes
/// (pipe::read_unless_gone).
[[nodiscard]] bool read_message_into(pipe& from, message_buffer& buffer, pipe* watched = nullptr,
                                     bool* watched_gone = nullptr);

}  // namespace platform

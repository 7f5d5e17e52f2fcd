#include "platform/message_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace platform {

namespace {

// Most messages (requests, answers, announcements) fit the first read.
constexpr std::size_t first_read_size = 4096;

}  // namespace

message_buffer::~message_buffer() { std::free(data_); }

message_buffer::message_buffer(message_buffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

message_buffer& message_buffer::operator=(message_buffer&& other) noexcept {
    if (this != &other) {
        std::free(data_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

bool message_buffer::reserve(std::size_t capacity) {
    if (capacity <= capacity_) return true;
    void* grown = std::realloc(data_, capacity);
    if (grown == nullptr) return false;
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
    return true;
}

bool read_message_into(pipe& from, message_buffer& buffer, pipe* watched, bool* watched_gone) {
    std::size_t room = first_read_size;
    bool first = true;
    for (;;) {
        const std::size_t used = buffer.size();
        if (!buffer.reserve(used + room)) return false;
        char* const into = buffer.data() + used;
        const std::size_t size = buffer.capacity() - used;
        bool gone = false;
        const io_result r = first && watched != nullptr
                                ? from.read_unless_gone(into, size, *watched, gone)
                                : from.read(into, size);
        first = false;
        if (watched_gone != nullptr && gone) *watched_gone = true;
        if (r.status == io_status::failed) return true;
        buffer.resize_within_capacity(used + r.count);
        if (r.status == io_status::ok || r.count == 0) return true;
        const std::size_t left = from.message_bytes_left();
        room = left > 0 ? left : std::max(first_read_size, buffer.size());
    }
}

}  // namespace platform

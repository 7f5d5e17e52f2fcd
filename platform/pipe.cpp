// Ownership of a pipe end, the same on every platform: each backend's close() releases it.
#include "platform/pipe.h"

namespace platform {

pipe::~pipe() { close(); }

pipe::pipe(pipe&& other) noexcept : impl_(other.impl_) { other.impl_ = nullptr; }

pipe& pipe::operator=(pipe&& other) noexcept {
    if (this != &other) {
        close();
        impl_ = other.impl_;
        other.impl_ = nullptr;
    }
    return *this;
}

}  // namespace platform

// Threads that nobody joins.
#pragma once

#include <cstddef>

namespace platform {

/// Starts fn(arg) on a new thread created already detached (never joined). stack_size 0
/// means the platform's default. False when no thread could be created.
[[nodiscard]] bool start_detached_thread(void (*fn)(void*), void* arg, std::size_t stack_size);

}  // namespace platform

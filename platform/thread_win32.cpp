// Detached threads on Windows.
#include <windows.h>

#include <new>

#include "platform/thread.h"

namespace platform {

namespace {

struct start_args {
    void (*fn)(void*);
    void* arg;
};

DWORD WINAPI thread_entry(void* param) {
    start_args args = *static_cast<start_args*>(param);
    delete static_cast<start_args*>(param);
    args.fn(args.arg);
    return 0;
}

}  // namespace

bool start_detached_thread(void (*fn)(void*), void* arg, std::size_t stack_size) {
    auto* args = new (std::nothrow) start_args{fn, arg};
    if (!args) return false;
    // The size is the stack's reservation, as on POSIX: given as a commit size it would
    // commit that much memory up front for every thread while reserving the default.
    const DWORD flags = stack_size != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0;
    HANDLE thread = CreateThread(nullptr, stack_size, thread_entry, args, flags, nullptr);
    if (!thread) {
        delete args;
        return false;
    }
    // Nobody joins it: the handle is not needed.
    CloseHandle(thread);
    return true;
}

}  // namespace platform

#include <pthread.h>

#include <new>

#include "platform/thread.h"

namespace platform {

namespace {

struct thread_start {
    void (*fn)(void*);
    void* arg;
};

void* run_thread(void* raw) {
    const thread_start start = *static_cast<thread_start*>(raw);
    delete static_cast<thread_start*>(raw);
    start.fn(start.arg);
    return nullptr;
}

}  // namespace

bool start_detached_thread(void (*fn)(void*), void* arg, std::size_t stack_size) {
    // Created detached by its attributes: detaching a running std::thread races with its
    // end on the C library in use here.
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    bool ok = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED) == 0;
    if (ok && stack_size != 0) ok = pthread_attr_setstacksize(&attr, stack_size) == 0;
    auto* start = new (std::nothrow) thread_start{fn, arg};
    if (start == nullptr) ok = false;
    if (ok) {
        pthread_t thread;
        ok = pthread_create(&thread, &attr, run_thread, start) == 0;
    }
    if (!ok) delete start;
    pthread_attr_destroy(&attr);
    return ok;
}

}  // namespace platform

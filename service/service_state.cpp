#include "service/service_state.h"

namespace service {

service_state& the_service() {
    // Never destroyed: the client watcher may still block on the wrapper pipe while main
    // returns, and a destructor closing it under that thread would be a use after free.
    static service_state* const state = new service_state;
    return *state;
}

void relay_counter::started() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++count_;
}

void relay_counter::finished() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--count_ == 0) none_left_.notify_all();
}

bool relay_counter::wait_until_none(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return none_left_.wait_for(lock, limit, [this] { return count_ == 0; });
}

}  // namespace service

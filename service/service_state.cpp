#include "service/service_state.h"

service_state& the_service() {
    // Never destroyed: the client watcher may still block on the wrapper pipe while main
    // returns, and a destructor closing it under that thread would be a use after free.
    static service_state* const state = new service_state;
    return *state;
}

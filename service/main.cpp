#include <cstdio>
#include <cstdlib>

#include "platform/pipe.h"
#include "service/service_driver.h"

int main(int argc, char** argv) {
    const int status = service::zorv_service_main(argc, argv);
    // Relay threads may still be running and logging through the service's state: end the
    // process without running static destructors under them.
    std::fflush(nullptr);
    // Our socket files go with us: one left behind is a stale name that the next service
    // has to check and replace.
    platform::remove_pipe_files();
    std::_Exit(status);
}

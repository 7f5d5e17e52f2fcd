#include <cstdio>
#include <cstdlib>

#include "service/service_driver.h"

int main(int argc, char** argv) {
    const int status = zorv_service_main(argc, argv);
    // Relay threads may still be running and logging through the service's state: end the
    // process without running static destructors under them.
    std::fflush(nullptr);
    std::_Exit(status);
}

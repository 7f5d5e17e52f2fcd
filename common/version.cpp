#include "common/version.h"

// Set for this file alone, so that a build of another version recompiles only it.
#ifndef VARNEX_VERSION
#error "VARNEX_VERSION must be defined by the build"
#endif

namespace common {

std::string_view product_version() { return VARNEX_VERSION; }

}  // namespace common

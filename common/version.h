// The version of the installation, as the programs write it into their logs.
#pragma once

#include <string_view>

namespace common {

/// The version this build was made as (the project's, unless the build names another).
std::string_view product_version();

}  // namespace common

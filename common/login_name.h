// The user's login name, which every pipe name and the work directory carry.
#pragma once

#include <string>

namespace common {

/// The login name as the product runtime reports it; empty when it reports none.
std::string login_name();

}  // namespace common

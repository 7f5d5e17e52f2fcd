// Where the installation is, and where its programs stand in it.
#pragma once

#include <string>
#include <string_view>

#include "platform/path_style.h"

namespace common {

/// The product installation directory as the runtime reports it; empty when it can't.
std::string installed_product_dir();

/// product_dir, the "bin" folder and program's file name (".exe" on windows).
std::string installed_program_path(std::string_view product_dir, std::string_view program,
                                   platform::path_style style);

}  // namespace common

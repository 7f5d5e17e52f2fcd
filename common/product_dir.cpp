#include "common/product_dir.h"

#include "runtime/product_runtime.h"

namespace common {

namespace {

constexpr std::string_view bin_folder = "bin";
// ks_product_dir writes into a caller's buffer of at least 1024 bytes.
constexpr int product_dir_buffer_size = 4096;

}  // namespace

std::string installed_product_dir() {
    char buffer[product_dir_buffer_size] = {};
    const char* dir = ks_product_dir(buffer, 0);
    return dir != nullptr ? dir : "";
}

std::string installed_program_path(std::string_view product_dir, std::string_view program,
                                   platform::path_style style) {
    return platform::join_path(platform::join_path(product_dir, bin_folder, style),
                               platform::program_file(program, style), style);
}

}  // namespace common

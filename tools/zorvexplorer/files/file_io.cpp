#include "tools/zorvexplorer/files/file_io.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "platform/file_read.h"
#include "platform/file_save.h"
#include "platform/folder.h"
#include "platform/path_style.h"

namespace zorv {

namespace {

constexpr std::string_view max_input_variable = "VARNEX_CLIENT_MAX_INPUT_BYTES";

}  // namespace

std::uint64_t max_input_bytes() {
    const char* text = std::getenv(std::string(max_input_variable).c_str());
    if (text == nullptr) return default_max_input_bytes;
    std::uint64_t value = 0;
    const char* end = text + std::strlen(text);
    const auto [at, ec] = std::from_chars(text, end, value);
    if (ec != std::errc() || at != end || value == 0) return default_max_input_bytes;
    return value;
}

file_read read_input_file(const std::string& path, std::uint64_t limit) {
    platform::file_contents got = platform::read_regular_file(path, limit);
    file_read result;
    switch (got.status) {
        case platform::read_status::ok:
            result.data = std::move(got.data);
            break;
        case platform::read_status::not_regular:
            result.error = path + ": not a regular file";
            break;
        case platform::read_status::too_large:
            result.error = path + ": larger than the limit of " + std::to_string(limit) +
                           " bytes (" + std::string(max_input_variable) + ")";
            break;
        case platform::read_status::out_of_memory:
            result.error = path + ": out of memory";
            break;
        case platform::read_status::failed:
            result.error = path + ": " + got.reason;
            break;
    }
    return result;
}

std::string write_output_file(const std::string& path, std::string_view data) {
    return platform::save_file(path, data);
}

std::string write_unique_file(const std::string& dir, std::string_view prefix,
                              std::string_view suffix, std::string_view data, std::string& error) {
    error = platform::make_folders(dir);
    if (!error.empty()) return {};
    const std::string path = platform::join_path(
        dir, std::string(prefix) + "-" + platform::unique_name_part() + std::string(suffix),
        platform::native_path_style());
    error = platform::create_new_file(path, data);
    return error.empty() ? path : std::string();
}

}  // namespace zorv

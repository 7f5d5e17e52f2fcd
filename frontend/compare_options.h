// The front end's command line as one record: parsing, validation and the encoding table.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/msg_catalogue.h"
#include "platform/path_style.h"

namespace frontend {

enum class PendingOption : std::int32_t {
    none = 0,
    out = 1,
    base = 2,
    fname = 3,
    favor_contrib = 4,
    encoding = 5,
};

/// What validation needs of the outside world; the native one uses the real environment.
struct validation_env {
    std::string cwd;
    platform::path_style style;
    platform::drive_lookup get_drive;
    std::function<bool(const std::string& path)> can_open_for_reading;
    std::function<void(msg_position position)> print_message;

    static validation_env native();
};

/// The type name of an encoding name ("utf-8" -> "utf8_file_delta"); empty when unknown.
std::string_view encoding_type_name(std::string_view encoding);

/// atoi's reading: leading white space, an optional sign, leading digits; 0 without any.
int atoi_value(std::string_view text);

struct CompareOptions {
    PendingOption pending = PendingOption::none;
    bool usage_error = false;
    bool merge_mode = false;
    bool blank_ignore = false;
    bool favor_given = false;
    bool encoding_given = false;
    std::vector<std::string> contributors;
    std::string output_name;
    std::string favor_contrib;
    std::vector<std::string> display_names;
    std::string encoding;
    std::string type_name;

    /// Scans the command line into this record (argv[0] is not looked at) and returns
    /// usage_error: true when the command line has a usage error, false when it is sound.
    /// The scan goes on after an error, so the record holds every argument either way.
    [[nodiscard]] bool parse_command_line(int argc, const char* const* argv);

    /// One step of the scan; name is without its "-" when is_option.
    void take_argument(std::string_view name, bool is_option, bool is_last);

    void add_contributor(std::string_view name);
    void add_display_name(std::string_view name);
    void set_output_name(std::string_view name);
    void set_favor_contrib(std::string_view value);
    void set_encoding(std::string_view value);

    /// True when the record may be sent; prints its own messages (3, 4, 5, 7) on some
    /// failures. Completes display names, absolute names and the type name.
    bool validate(const validation_env& env);
    bool validate();
};

}  // namespace frontend

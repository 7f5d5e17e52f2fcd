#include "frontend/compare_options.h"

#include <climits>

#include "frontend/msg_catalogue.h"
#include "frontend/request.h"
#include "platform/process.h"
#include "runtime/product_runtime.h"

namespace frontend {

namespace {

struct encoding_row {
    std::string_view encoding;
    std::string_view type_name;
};

// Looked up exactly and case-sensitively.
constexpr encoding_row encoding_table[] = {
    {"utf-8", "utf8_file_delta"},       {"utf-16le", "utf16le_file_delta"},
    {"utf-16be", "utf16be_file_delta"}, {"utf-32le", "utf32le_file_delta"},
    {"utf-32be", "utf32be_file_delta"},
};

constexpr std::string_view opt_blank_ignore = "blank_ignore";
constexpr std::string_view opt_out = "out";
constexpr std::string_view opt_base = "base";
constexpr std::string_view opt_fname = "fname";
constexpr std::string_view opt_favor_contrib = "favor_contrib";
constexpr std::string_view opt_encoding = "encoding";

// Accepted for compatibility with other front ends and ignored.
constexpr std::string_view ignored_options[] = {"abort",  "pause",  "html", "force",    "query",
                                                "hstack", "vstack", "qall", "qntrivial"};

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

validation_env validation_env::native() {
    validation_env env;
    env.cwd = platform::current_directory();
    env.style = platform::native_path_style();
    env.get_drive = [](std::string_view dir) {
        const std::string d(dir);
        const char* drive = fileutl_get_drive(d.c_str());
        return std::string(drive != nullptr ? drive : "");
    };
    env.can_open_for_reading = [](const std::string& path) {
        unix_nt_file* file = unix_nt_fopen(path.c_str(), "r");
        if (file == nullptr) return false;
        unix_nt_fclose(file);
        return true;
    };
    env.print_message = [](msg_position position) { print_catalogue_message(position); };
    return env;
}

std::string_view encoding_type_name(std::string_view encoding) {
    for (const auto& row : encoding_table) {
        if (row.encoding == encoding) return row.type_name;
    }
    return {};
}

int atoi_value(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_space(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Saturates instead of overflowing: any huge value is out of range all the same.
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value <= INT_MAX) value = value * 10 + (text[i] - '0');
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

bool CompareOptions::parse_command_line(int argc, const char* const* argv) {
    pending = PendingOption::none;
    usage_error = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i] != nullptr ? argv[i] : "";
        const bool is_option = !arg.empty() && arg[0] == '-';
        take_argument(is_option ? arg.substr(1) : arg, is_option, i == argc - 1);
    }
    return usage_error;
}

void CompareOptions::take_argument(std::string_view name, bool is_option, bool is_last) {
    if (!is_option) {
        switch (pending) {
            case PendingOption::none:
            case PendingOption::base:
                // An empty name has nothing to make absolute or to open.
                if (name.empty()) usage_error = true;
                add_contributor(name);
                break;
            case PendingOption::out:
                if (name.empty()) usage_error = true;
                set_output_name(name);
                break;
            case PendingOption::fname:
                add_display_name(name);
                break;
            case PendingOption::favor_contrib:
                set_favor_contrib(name);
                break;
            case PendingOption::encoding:
                set_encoding(name);
                break;
        }
        pending = PendingOption::none;
        return;
    }
    if (pending != PendingOption::none) {
        // The previous option still lacks its value; this one is not acted on.
        usage_error = true;
        return;
    }
    if (name == opt_blank_ignore) {
        blank_ignore = true;
    } else if (name == opt_out) {
        merge_mode = true;
        pending = PendingOption::out;
    } else if (name == opt_base) {
        // The base must be the first contributor.
        if (!contributors.empty()) usage_error = true;
        pending = PendingOption::base;
    } else if (name == opt_fname) {
        pending = PendingOption::fname;
    } else if (name == opt_favor_contrib) {
        favor_given = true;
        pending = PendingOption::favor_contrib;
    } else if (name == opt_encoding) {
        encoding_given = true;
        pending = PendingOption::encoding;
    } else {
        bool known = false;
        for (const auto ignored : ignored_options) known = known || name == ignored;
        if (!known) usage_error = true;
    }
    if (is_last && pending != PendingOption::none) usage_error = true;
}

void CompareOptions::add_contributor(std::string_view name) { contributors.emplace_back(name); }

void CompareOptions::add_display_name(std::string_view name) { display_names.emplace_back(name); }

void CompareOptions::set_output_name(std::string_view name) {
    output_name = name;
    merge_mode = true;
}

void CompareOptions::set_favor_contrib(std::string_view value) { favor_contrib = value; }

void CompareOptions::set_encoding(std::string_view value) { encoding = value; }

bool CompareOptions::validate(const validation_env& env) {
    const auto print = [&env](msg_position position) {
        if (env.print_message) env.print_message(position);
    };
    if (favor_given && !(merge_mode && blank_ignore)) {
        print(msg_position::favor_contrib_required);
        return false;
    }
    const std::size_t n = contributors.size();
    if (n < 2) {
        print(msg_position::too_few_objects);
        return false;
    }
    display_names.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (display_names[i].empty()) display_names[i] = contributors[i];
        platform::resolve_path(contributors[i], env.cwd, env.style, env.get_drive);
    }
    // Every name travels in the request, which cannot hold every byte.
    for (const auto* names : {&contributors, &display_names}) {
        for (const auto& name : *names) {
            if (!xml_can_carry(name)) return false;
        }
    }
    for (const auto& name : contributors) {
        if (name.empty() || !env.can_open_for_reading || !env.can_open_for_reading(name)) {
            return false;
        }
    }
    if (merge_mode) {
        if (output_name.empty()) return false;
        platform::resolve_path(output_name, env.cwd, env.style, env.get_drive);
        // Judged as sent: a relative name takes on the current directory's bytes.
        if (!xml_can_carry(output_name)) return false;
    }
    if (merge_mode && blank_ignore && favor_given) {
        const int favored = atoi_value(favor_contrib);
        if (favored < 1 || static_cast<std::size_t>(favored) > n) {
            print(msg_position::invalid_favor_contrib);
            return false;
        }
    }
    if (encoding_given) {
        const std::string_view type = encoding_type_name(encoding);
        if (type.empty()) {
            print(msg_position::incorrect_encoding);
            return false;
        }
        type_name = type;
    }
    return true;
}

bool CompareOptions::validate() { return validate(validation_env::native()); }

}  // namespace frontend

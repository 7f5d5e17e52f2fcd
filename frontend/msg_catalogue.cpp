#include "frontend/msg_catalogue.h"

#include <cstdint>

namespace frontend {

namespace {

// The usage text: six lines, no line feed after the last.
constexpr const char usage_text[] =
    "Usage: trelmerge\n"
    "    [ -out output-pname ]\n"
    "    [ -blank_ignore ]\n"
    "    [-encoding utf-8|utf-16le|utf-16be|utf-32le|utf-32be]\n"
    "    [ -base pname ]\n"
    "contrib-pname ...";
constexpr const char unrecognized_option_text[] = "Unrecognized option";
constexpr const char flag_requires_parameter_text[] = "A specified flag requires a parameter.";
constexpr const char favor_contrib_required_text[] =
    "You must supply the \"-favor_contrib\" option when the \"-blank_ignore\" option is used in "
    "merge mode.";
constexpr const char too_few_objects_text[] = "At least two objects must be supplied to compare.";
constexpr const char invalid_favor_contrib_text[] = "The favor contributor specified is invalid.";
constexpr const char late_base_text[] =
    "If the /base command line switch is used, it must appear before the names of any "
    "contributor files or directories";
constexpr const char incorrect_encoding_text[] = "Incorrect Encoding Option was Specified";
constexpr const char utf8_ui_unavailable_text[] =
    "Currently the UTF8 Compare / Merge UI is not available on this platform. However you can "
    "access this UTF8 Compare/Merge functionality from a command line interface. For additional "
    "details, please refer to the Release Notes";

constexpr const char* const msg_texts[] = {
    usage_text,
    unrecognized_option_text,
    flag_requires_parameter_text,
    favor_contrib_required_text,
    too_few_objects_text,
    invalid_favor_contrib_text,
    late_base_text,
    incorrect_encoding_text,
    utf8_ui_unavailable_text,
};

// Positions plus one, except the last entry.
constexpr std::uint16_t msg_numbers[] = {1, 2, 3, 4, 5, 6, 7, 8, 10};

static_assert(sizeof msg_texts / sizeof msg_texts[0] == sizeof msg_numbers / sizeof msg_numbers[0]);

constexpr imsg_catalogue msg_table = {
    "trelmerge_bin",
    "tmg",
    63,
    static_cast<std::uint16_t>(sizeof msg_numbers / sizeof msg_numbers[0]),
    msg_texts,
    msg_numbers,
};

}  // namespace

extern "C" VARNEX_EXPORT const imsg_catalogue* _trelmerge_trelmerge_msg_table_adr(void) {
    return &msg_table;
}

void print_catalogue_message(msg_position position) {
    (void)imsg_print(msg_kind, _trelmerge_trelmerge_msg_table_adr(), static_cast<int>(position));
}

}  // namespace frontend

// The front end's user messages, printed by the runtime's message printer by position.
#pragma once

#include "runtime/product_runtime.h"

namespace frontend {

/// Positions of the catalogue's messages.
enum class msg_position : int {
    usage = 0,
    unrecognized_option = 1,
    flag_requires_parameter = 2,
    favor_contrib_required = 3,
    too_few_objects = 4,
    invalid_favor_contrib = 5,
    late_base = 6,
    incorrect_encoding = 7,
    utf8_ui_unavailable = 8,
};

/// Message kind of every front-end message.
inline constexpr int msg_kind = 6;

/// Exported under exactly this name; returns the catalogue record (the same address on
/// every call).
extern "C" VARNEX_EXPORT const imsg_catalogue* _trelmerge_trelmerge_msg_table_adr(void);

/// Prints the message at position through imsg_print.
void print_catalogue_message(msg_position position);

}  // namespace frontend

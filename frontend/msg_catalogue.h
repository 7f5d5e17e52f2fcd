// The front end's user messages, printed by the runtime's message printer by position.
#pragma once

#include "common/product_runtime.h"

/// Positions of the catalogue's messages.
enum msg_position : int {
    msg_usage = 0,
    msg_unrecognized_option = 1,
    msg_flag_requires_parameter = 2,
    msg_favor_contrib_required = 3,
    msg_too_few_objects = 4,
    msg_invalid_favor_contrib = 5,
    msg_late_base = 6,
    msg_incorrect_encoding = 7,
    msg_utf8_ui_unavailable = 8,
};

/// Message kind of every front-end message.
inline constexpr int msg_kind = 6;

/// Exported under exactly this name; returns the catalogue record (the same address on
/// every call).
extern "C" VARNEX_EXPORT const imsg_catalogue* _trelmerge_trelmerge_msg_table_adr(void);

/// Prints the message at position through imsg_print.
void print_catalogue_message(int position);

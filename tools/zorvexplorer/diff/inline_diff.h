// Changes within one changed line: which characters of each version differ.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace zorv {

/// Bytes [begin, end) of a line.
struct byte_span {
    std::size_t begin, end;
    bool operator==(const byte_span&) const = default;
};

struct inline_changes {
    std::vector<byte_span> a;  // what only the first version has
    std::vector<byte_span> b;  // what only the second version has
};

/// The differing characters of two versions of a line (valid UTF-8, line end stripped),
/// from a shortest edit script over code points. Spans never split a character. Nothing
/// is marked when the lines are equal, have too little in common for marks to help (the
/// whole line is the change then), or are too long to compare cheaply.
inline_changes diff_within_line(std::string_view a, std::string_view b);

}  // namespace zorv

// Changes within one changed line: which words (or, within a word, which characters) of
// each version differ.
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

/// The tokens a line is compared in: words (letters, digits and '_', starting with a
/// letter or '_'; any character beyond ASCII counts as a letter), numbers (digits), runs
/// of white space, and single punctuation characters. Spans cover the line in order.
std::vector<byte_span> split_tokens(std::string_view line);

struct inline_changes {
    std::vector<byte_span> a;  // what only the first version has
    std::vector<byte_span> b;  // what only the second version has
};

/// The differing parts of two versions of a line (valid UTF-8, line end stripped): a
/// shortest edit script over tokens marks changed tokens whole; where one word or number
/// replaces another and at least half of the longer one is kept (a common start and end),
/// only the characters between are marked. Spans never split a character. Nothing is
/// marked when the lines are equal, share too little for marks to help (the whole line is
/// the change then), or are too long to compare cheaply.
inline_changes diff_within_line(std::string_view a, std::string_view b);

}  // namespace zorv

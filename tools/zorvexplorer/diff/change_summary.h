// What a compare found, in one line for the client's log: a user who ran a compare without a
// desktop (or a script) learns which lines differ without opening the page.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/zorvexplorer/diff/binary_compare.h"
#include "tools/zorvexplorer/diff/sequence_diff.h"

namespace zorv {

/// How many differing places are listed for a pair before the rest is only counted.
inline constexpr std::size_t summary_places_listed = 10;

/// Each file after the first against the first, pairs joined by "; ":
///   "a.txt and b.txt are identical"
///   "a.txt and b.txt differ in 3 places: lines 2 / 2, 5-6 / 5, after 8 / 9-10"
/// A place gives the first file's lines, then the other's; a side without lines there is
/// "after N" (the line it follows; "after 0" at the start). A pair with a binary file is
/// judged by its digest: "binary files a.bin and b.bin differ" (or "are identical").
/// names and texts go position by position; facts is empty unless a file is binary.
std::string describe_changes(const std::vector<std::string>& names,
                             const std::vector<std::string>& texts,
                             const std::vector<file_facts>& facts);

/// The same from the line hunks of each pair already found: pair_hunks[k] for the first file
/// against file k (k from 1; unused for a pair with a binary file).
std::string describe_changes(const std::vector<std::string>& names,
                             const std::vector<file_facts>& facts,
                             const std::vector<std::vector<line_hunk>>& pair_hunks);

}  // namespace zorv

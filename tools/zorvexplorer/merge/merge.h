// Merging contributors line by line, with conflicts marked in the text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zorv {

inline constexpr std::string_view conflict_start_marker = "<<<<<<<";
inline constexpr std::string_view conflict_base_marker = "|||||||";
inline constexpr std::string_view conflict_separator = "=======";
inline constexpr std::string_view conflict_end_marker = ">>>>>>>";

/// A stretch of a merge: text both sides agree on (or that one side alone changed), or a
/// conflict with the lines of each side. Lines keep their own line ends.
struct merge_chunk {
    bool conflict = false;
    std::string text;                // the merged text, when no conflict
    std::string ours, base, theirs;  // a conflict's sides
    bool has_base = false;           // false in a merge without a base
    /// Where a conflict's sides start in their own texts: 0-based line indexes.
    std::size_t ours_line = 0, base_line = 0, theirs_line = 0;
};

struct merge_result {
    std::string text;  // the merge, conflicts marked
    std::size_t conflicts = 0;
    std::vector<merge_chunk> chunks;                // the same merge in stretches
    std::string eol;                                // line end of the markers: "\r\n" or "\n"
    std::string ours_name, base_name, theirs_name;  // the conflicts' labels
    bool clean() const { return conflicts == 0; }
};

/// Three-way merge of ours and theirs, both derived from base. A region changed on one
/// side takes that side; the same change on both sides is taken once; differing changes
/// to overlapping or touching regions become a conflict:
///   <<<<<<< ours_name / ours / ||||||| base_name / base / ======= / theirs / >>>>>>> theirs_name
/// Markers stand on lines of their own (a line feed is added to a side whose last line
/// lacks one) and end as the base's first line ends (CR LF or LF).
merge_result merge3(std::string_view base, std::string_view ours, std::string_view theirs,
                    std::string_view base_name, std::string_view ours_name,
                    std::string_view theirs_name);

/// Two-way merge without a base: every region where a and b differ is a conflict
/// (<<<<<<< a_name / a / ======= / b / >>>>>>> b_name).
merge_result merge2(std::string_view a, std::string_view b, std::string_view a_name,
                    std::string_view b_name);

/// Merges texts as one request does: two texts merge2; with more the first is the base and
/// the others are folded in one at a time (the result so far standing as "ours", labelled
/// with the names merged into it, joined by ", "). names label texts position by position.
/// After a fold of four or more, chunks describe the last fold only: a conflict of an
/// earlier one stands marked inside them, and chunks is left empty then.
merge_result merge_contributors(const std::vector<std::string>& texts,
                                const std::vector<std::string>& names);

}  // namespace zorv

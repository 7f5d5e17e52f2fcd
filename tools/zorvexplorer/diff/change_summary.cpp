#include "tools/zorvexplorer/diff/change_summary.h"

#include "tools/zorvexplorer/diff/line_diff.h"

namespace zorv {

namespace {

// Lines [begin, end) counted from 1, or the line a side's empty range follows.
std::string line_range(std::size_t begin, std::size_t end) {
    if (begin == end) return "after " + std::to_string(begin);
    if (end - begin == 1) return std::to_string(begin + 1);
    return std::to_string(begin + 1) + "-" + std::to_string(end);
}

std::string describe_text_pair(const std::string& first_name, const std::string& other_name,
                               const std::vector<line_hunk>& hunks) {
    const std::string pair = first_name + " and " + other_name;
    if (hunks.empty()) return pair + " are identical";
    std::string text = pair + " differ in " + std::to_string(hunks.size()) +
                       (hunks.size() == 1 ? " place: lines " : " places: lines ");
    for (std::size_t i = 0; i < hunks.size() && i < summary_places_listed; ++i) {
        if (i > 0) text += ", ";
        text += line_range(hunks[i].a_begin, hunks[i].a_end) + " / " +
                line_range(hunks[i].b_begin, hunks[i].b_end);
    }
    if (hunks.size() > summary_places_listed) {
        text += " and " + std::to_string(hunks.size() - summary_places_listed) + " more";
    }
    return text;
}

}  // namespace

std::string describe_changes(const std::vector<std::string>& names,
                             const std::vector<std::string>& texts,
                             const std::vector<file_facts>& facts) {
    std::vector<std::vector<line_hunk>> pair_hunks(texts.size());
    for (std::size_t k = 1; k < texts.size(); ++k) {
        const bool binary = k < facts.size() && (facts[0].binary || facts[k].binary);
        if (!binary) pair_hunks[k] = diff_lines(split_lines(texts[0]), split_lines(texts[k]));
    }
    return describe_changes(names, facts, pair_hunks);
}

std::string describe_changes(const std::vector<std::string>& names,
                             const std::vector<file_facts>& facts,
                             const std::vector<std::vector<line_hunk>>& pair_hunks) {
    const auto name = [&](std::size_t k) { return k < names.size() ? names[k] : std::string(); };
    std::string summary;
    for (std::size_t k = 1; k < pair_hunks.size(); ++k) {
        if (!summary.empty()) summary += "; ";
        const bool binary = k < facts.size() && (facts[0].binary || facts[k].binary);
        if (binary) {
            const bool same = facts[0].binary && facts[k].binary &&
                              facts[0].size == facts[k].size && facts[0].digest == facts[k].digest;
            summary += "binary files " + name(0) + " and " + name(k) +
                       (same ? " are identical" : " differ");
        } else {
            summary += describe_text_pair(name(0), name(k), pair_hunks[k]);
        }
    }
    return summary;
}

}  // namespace zorv

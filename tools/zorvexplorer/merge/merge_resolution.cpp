#include "tools/zorvexplorer/merge/merge_resolution.h"

namespace zorv {

namespace {

void append_side(std::string& out, const std::string& side, std::string_view eol) {
    // A side whose last line has no line end must not run into the next one.
    if (!out.empty() && out.back() != '\n' && !side.empty()) out += eol;
    out += side;
}

bool ends_line(const std::string& s) { return !s.empty() && s.back() == '\n'; }

// The edited text with every line end (CR LF, CR or LF, as a browser may send) as eol.
std::string with_line_ends(std::string_view text, std::string_view eol) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += eol;
        } else if (text[i] == '\n') {
            out += eol;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Typed text as the page holds it (lines split at line feeds only; a carriage return that
// stood alone in the file is still there) with its line feeds as eol.
std::string with_line_feeds_as(std::string_view text, std::string_view eol) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out += eol;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::optional<conflict_choice> choice_named(std::string_view name) {
    static constexpr struct {
        std::string_view name;
        conflict_choice choice;
    } names[] = {
        {"left", conflict_choice::left},
        {"right", conflict_choice::right},
        {"left-right", conflict_choice::left_then_right},
        {"right-left", conflict_choice::right_then_left},
        {"base", conflict_choice::base},
        {"edit", conflict_choice::edited},
    };
    for (const auto& n : names) {
        if (n.name == name) return n.choice;
    }
    return std::nullopt;
}

resolved_merge resolve_merge(const merge_result& merged,
                             const std::vector<conflict_resolution>& resolutions,
                             const typed_stretches& typed) {
    resolved_merge out;
    if (resolutions.size() != merged.conflicts) {
        out.error = std::to_string(resolutions.size()) + " resolutions for " +
                    std::to_string(merged.conflicts) + " conflicts";
        return out;
    }
    std::size_t k = 0;
    std::size_t stretch = 0;
    for (std::size_t i = 0; i < merged.chunks.size(); ++i) {
        const merge_chunk& c = merged.chunks[i];
        if (!c.conflict) {
            const auto t = typed.find(stretch++);
            out.text += t == typed.end() ? c.text : with_line_feeds_as(t->second, merged.eol);
            continue;
        }
        if (k >= resolutions.size()) {
            out.error = "more conflicts in the merge than resolutions";
            return out;
        }
        const conflict_resolution& r = resolutions[k++];
        switch (r.choice) {
            case conflict_choice::left:
                append_side(out.text, c.ours, merged.eol);
                break;
            case conflict_choice::right:
                append_side(out.text, c.theirs, merged.eol);
                break;
            case conflict_choice::left_then_right:
                append_side(out.text, c.ours, merged.eol);
                append_side(out.text, c.theirs, merged.eol);
                break;
            case conflict_choice::right_then_left:
                append_side(out.text, c.theirs, merged.eol);
                append_side(out.text, c.ours, merged.eol);
                break;
            case conflict_choice::base:
                if (!c.has_base) {
                    out.error = "conflict " + std::to_string(k) + " has no base to take";
                    return out;
                }
                append_side(out.text, c.base, merged.eol);
                break;
            case conflict_choice::edited: {
                std::string edited = with_line_ends(r.text, merged.eol);
                const bool at_end = i + 1 == merged.chunks.size();
                const bool sides_end_lines =
                    ends_line(c.ours) || ends_line(c.theirs) || ends_line(c.base);
                if (!edited.empty() && !ends_line(edited) && (!at_end || sides_end_lines))
                    edited += merged.eol;
                append_side(out.text, edited, merged.eol);
                break;
            }
        }
    }
    if (k != resolutions.size()) out.error = "fewer conflicts in the merge than resolutions";
    if (!typed.empty() && typed.rbegin()->first >= stretch)
        out.error = "typed text for stretch " + std::to_string(typed.rbegin()->first + 1) + " of " +
                    std::to_string(stretch);
    return out;
}

}  // namespace zorv

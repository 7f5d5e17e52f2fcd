#include "tools/zorvexplorer/diff/inline_diff.h"

#include <algorithm>
#include <cstdint>
#include <dtl/dtl.hpp>

namespace zorv {

namespace {

// Beyond this many code points a side is shown as changed as a whole: the edit script
// costs grow with the product of the lengths when the lines differ much.
constexpr std::size_t longest_compared_line = 4000;

// One code point: its value for comparing and where its bytes start.
struct code_points {
    std::vector<std::uint32_t> values;
    std::vector<std::size_t> starts;  // one more than values: the end of the text
};

code_points split_code_points(std::string_view s) {
    code_points cp;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto lead = static_cast<unsigned char>(s[i]);
        std::size_t len = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (i + len > s.size()) len = s.size() - i;
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < len; ++k) v = v << 8 | static_cast<unsigned char>(s[i + k]);
        cp.values.push_back(v);
        cp.starts.push_back(i);
        i += len;
    }
    cp.starts.push_back(s.size());
    return cp;
}

// Adds code point k of side to spans, joining it to the span it touches.
void mark(std::vector<byte_span>& spans, const code_points& side, std::size_t k) {
    const byte_span s{side.starts[k], side.starts[k + 1]};
    if (!spans.empty() && spans.back().end == s.begin) {
        spans.back().end = s.end;
    } else {
        spans.push_back(s);
    }
}

}  // namespace

inline_changes diff_within_line(std::string_view a, std::string_view b) {
    inline_changes out;
    if (a == b) return out;
    const code_points ca = split_code_points(a);
    const code_points cb = split_code_points(b);
    if (ca.values.size() > longest_compared_line || cb.values.size() > longest_compared_line)
        return out;
    dtl::Diff<std::uint32_t, std::vector<std::uint32_t>> diff(ca.values, cb.values);
    diff.compose();
    std::size_t ia = 0;
    std::size_t ib = 0;
    std::size_t common = 0;
    for (const auto& [value, info] : diff.getSes().getSequence()) {
        (void)value;
        if (info.type == dtl::SES_COMMON) {
            ++ia;
            ++ib;
            ++common;
        } else if (info.type == dtl::SES_DELETE) {
            mark(out.a, ca, ia++);
        } else {
            mark(out.b, cb, ib++);
        }
    }
    // Lines that share little are rewritten, not edited: marks would be noise.
    const std::size_t shorter = std::min(ca.values.size(), cb.values.size());
    const std::size_t longer = std::max(ca.values.size(), cb.values.size());
    if (common == 0 || common * 3 < shorter || common * 4 < longer) return {};
    return out;
}

}  // namespace zorv

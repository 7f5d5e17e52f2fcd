#include "tools/zorvexplorer/line_diff.h"

#include <dtl/dtl.hpp>

namespace zorv {

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t nl = text.find('\n', pos);
        const std::size_t end = nl == std::string_view::npos ? text.size() : nl + 1;
        lines.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    return lines;
}

std::vector<line_hunk> diff_lines(const std::vector<std::string_view>& a,
                                  const std::vector<std::string_view>& b) {
    std::vector<line_hunk> hunks;
    if (a.empty() && b.empty()) return hunks;
    dtl::Diff<std::string_view, std::vector<std::string_view>> diff(a, b);
    // Without it large inputs give up on the shortest script and fall back to a coarse one.
    diff.onHuge();
    diff.compose();
    std::size_t ai = 0;
    std::size_t bi = 0;
    bool open = false;
    line_hunk current{};
    const auto close = [&] {
        if (!open) return;
        current.a_end = ai;
        current.b_end = bi;
        hunks.push_back(current);
        open = false;
    };
    for (const auto& [line, info] : diff.getSes().getSequence()) {
        (void)line;
        if (info.type == dtl::SES_COMMON) {
            close();
            ++ai;
            ++bi;
            continue;
        }
        if (!open) {
            current = line_hunk{ai, ai, bi, bi};
            open = true;
        }
        if (info.type == dtl::SES_DELETE) {
            ++ai;
        } else {
            ++bi;
        }
    }
    close();
    return hunks;
}

}  // namespace zorv

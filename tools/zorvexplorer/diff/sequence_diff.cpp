#include "tools/zorvexplorer/diff/sequence_diff.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>

namespace zorv {

interner::interner(std::size_t expected) {
    std::size_t slots = 64;
    while (slots < expected * 2) slots *= 2;
    slots_.assign(slots, 0);
    texts_.reserve(expected);
    hashes_.reserve(expected);
}

void interner::grow() {
    std::vector<std::uint32_t> slots(slots_.size() * 2, 0);
    const std::size_t mask = slots.size() - 1;
    for (std::uint32_t id = 0; id < texts_.size(); ++id) {
        std::size_t at = hashes_[id] & mask;
        while (slots[at] != 0) at = (at + 1) & mask;
        slots[at] = id + 1;
    }
    slots_.swap(slots);
}

std::uint32_t interner::id(std::string_view text) {
    const std::size_t hash = std::hash<std::string_view>{}(text);
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = hash & mask;
    while (const std::uint32_t slot = slots_[at]) {
        if (hashes_[slot - 1] == hash && texts_[slot - 1] == text) return slot - 1;
        at = (at + 1) & mask;
    }
    const auto id = static_cast<std::uint32_t>(texts_.size());
    texts_.push_back(text);
    hashes_.push_back(hash);
    slots_[at] = id + 1;
    // At most half full, so that probes stay short.
    if (texts_.size() * 2 > slots_.size()) grow();
    return id;
}

namespace {

using ids = std::span<const std::uint32_t>;

// A shortest edit script between two sequences (the middle-snake search of the linear-space
// algorithm, both ends at once), marking what is not common in changed_a / changed_b.
// When one search goes past max_cost steps it splits at the path that reached furthest,
// which keeps the script correct at a bounded cost.
class middle_snake_diff {
  public:
    middle_snake_diff(ids a, ids b, std::vector<char>& changed_a, std::vector<char>& changed_b,
                      long max_cost)
        : a_(a), b_(b), changed_a_(changed_a), changed_b_(changed_b), max_cost_(max_cost) {}

    // Items [a0, a1) of a against [b0, b1) of b.
    void run(long a0, long a1, long b0, long b1) {
        // Diagonals a0 - b1 to a1 - b0, and one more each way.
        const auto diagonals = static_cast<std::size_t>((a1 - a0) + (b1 - b0) + 3);
        if (forward_.size() < diagonals) {
            forward_.resize(diagonals);
            backward_.resize(diagonals);
        }
        offset_ = b1 - a0 + 1;
        struct box {
            long a0, a1, b0, b1;
        };
        std::vector<box> todo{{a0, a1, b0, b1}};
        while (!todo.empty()) {
            box x = todo.back();
            todo.pop_back();
            while (x.a0 < x.a1 && x.b0 < x.b1 && a_[x.a0] == b_[x.b0]) ++x.a0, ++x.b0;
            while (x.a0 < x.a1 && x.b0 < x.b1 && a_[x.a1 - 1] == b_[x.b1 - 1]) --x.a1, --x.b1;
            if (x.a0 == x.a1 || x.b0 == x.b1) {
                std::fill(changed_a_.begin() + x.a0, changed_a_.begin() + x.a1, 1);
                std::fill(changed_b_.begin() + x.b0, changed_b_.begin() + x.b1, 1);
                continue;
            }
            const auto [sx, sy] = split(x.a0, x.a1, x.b0, x.b1);
            todo.push_back({sx, x.a1, sy, x.b1});
            todo.push_back({x.a0, sx, x.b0, sy});
        }
    }

  private:
    struct point {
        long x, y;
    };
    long& fd(long k) { return forward_[static_cast<std::size_t>(k + offset_)]; }
    long& bd(long k) { return backward_[static_cast<std::size_t>(k + offset_)]; }

    // A point on some shortest path through the box, found by running paths from both
    // corners until they meet; diagonals are k = x - y.
    point split(long a0, long a1, long b0, long b1) {
        const long kmin = a0 - b1, kmax = a1 - b0;
        const long fk = a0 - b0, bk = a1 - b1;
        const bool odd = ((fk - bk) & 1) != 0;
        long flo = fk, fhi = fk, blo = bk, bhi = bk;
        fd(fk) = a0;
        bd(bk) = a1;
        for (long cost = 1;; ++cost) {
            // Widen the forward frontier by one diagonal each way where the box allows.
            if (flo > kmin) {
                fd(--flo - 1) = -1;
            } else {
                ++flo;
            }
            if (fhi < kmax) {
                fd(++fhi + 1) = -1;
            } else {
                --fhi;
            }
            for (long k = fhi; k >= flo; k -= 2) {
                const long below = fd(k - 1), above = fd(k + 1);
                long x = below >= above ? below + 1 : above;
                long y = x - k;
                while (x < a1 && y < b1 && a_[x] == b_[y]) ++x, ++y;
                fd(k) = x;
                if (odd && blo <= k && k <= bhi && bd(k) <= x) return {x, y};
            }
            if (blo > kmin) {
                bd(--blo - 1) = LONG_MAX;
            } else {
                ++blo;
            }
            if (bhi < kmax) {
                bd(++bhi + 1) = LONG_MAX;
            } else {
                --bhi;
            }
            for (long k = bhi; k >= blo; k -= 2) {
                const long below = bd(k - 1), above = bd(k + 1);
                long x = below < above ? below : above - 1;
                long y = x - k;
                while (x > a0 && y > b0 && a_[x - 1] == b_[y - 1]) --x, --y;
                bd(k) = x;
                if (!odd && flo <= k && k <= fhi && x <= fd(k)) return {x, y};
            }
            if (cost >= max_cost_) return furthest(a0, a1, b0, b1, flo, fhi, blo, bhi);
        }
    }

    // The end of the forward or backward path that got furthest from its corner.
    point furthest(long a0, long a1, long b0, long b1, long flo, long fhi, long blo, long bhi) {
        point fbest{-1, -1};
        for (long k = fhi; k >= flo; k -= 2) {
            long x = std::min(fd(k), a1);
            long y = x - k;
            if (y > b1) x = b1 + k, y = b1;
            if (x + y > fbest.x + fbest.y) fbest = {x, y};
        }
        point bbest{LONG_MAX / 2, LONG_MAX / 2};
        for (long k = bhi; k >= blo; k -= 2) {
            long x = std::max(bd(k), a0);
            long y = x - k;
            if (y < b0) x = b0 + k, y = b0;
            if (x + y < bbest.x + bbest.y) bbest = {x, y};
        }
        return (a1 + b1) - (bbest.x + bbest.y) < (fbest.x + fbest.y) - (a0 + b0) ? fbest : bbest;
    }

    ids a_, b_;
    std::vector<char>& changed_a_;
    std::vector<char>& changed_b_;
    long max_cost_;
    std::vector<long> forward_, backward_;
    long offset_ = 0;
};

// Positions (into a) of the longest run of anchors whose partners in b rise too.
std::vector<std::uint32_t> rising_anchors(const std::vector<std::uint32_t>& in_a,
                                          const std::vector<std::uint32_t>& in_b) {
    // Patience: tails[l] is the anchor ending the best rising run of length l + 1.
    std::vector<std::uint32_t> tails;
    std::vector<std::uint32_t> before(in_a.size(), UINT32_MAX);
    for (std::uint32_t k = 0; k < in_a.size(); ++k) {
        const auto at =
            std::lower_bound(tails.begin(), tails.end(), in_b[k],
                             [&](std::uint32_t t, std::uint32_t v) { return in_b[t] < v; });
        if (at != tails.begin()) before[k] = *(at - 1);
        if (at == tails.end()) {
            tails.push_back(k);
        } else {
            *at = k;
        }
    }
    std::vector<std::uint32_t> chain;
    for (std::uint32_t k = tails.empty() ? UINT32_MAX : tails.back(); k != UINT32_MAX;
         k = before[k])
        chain.push_back(k);
    std::reverse(chain.begin(), chain.end());
    return chain;
}

// Moves a block of lines that only one side has down past equal lines (a block added
// before a repeated line becomes one added after it), as long as that joins no other change.
void slide_down(ids a, std::vector<char>& ca, std::vector<char>& cb) {
    std::size_t i = 0, j = 0;
    const std::size_t n = ca.size(), m = cb.size();
    while (i < n || j < m) {
        if (i < n && j < m && !ca[i] && !cb[j]) {
            ++i, ++j;
            continue;
        }
        std::size_t ie = i, je = j;
        while (ie < n && ca[ie]) ++ie;
        while (je < m && cb[je]) ++je;
        if (je == j) {
            // Lines [i, ie) only a has; a[ie] is matched with b[j].
            while (ie < n && !ca[ie] && a[i] == a[ie] && (ie + 1 >= n || !ca[ie + 1]) &&
                   (j + 1 >= m || !cb[j + 1])) {
                ca[i++] = 0;
                ca[ie++] = 1;
                ++j;
            }
            je = j;
        }
        i = ie;
        j = je;
    }
}

}  // namespace

std::vector<line_hunk> diff_ids(ids a, ids b, std::size_t id_count, diff_effort effort) {
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    const ids ta = a.subspan(head, a.size() - head - tail);
    const ids tb = b.subspan(head, b.size() - head - tail);

    std::vector<char> ca(ta.size(), 1), cb(tb.size(), 1);
    if (!ta.empty() && !tb.empty()) {
        std::vector<std::uint32_t> count_a(id_count), count_b(id_count);
        for (const std::uint32_t x : ta) ++count_a[x];
        for (const std::uint32_t y : tb) ++count_b[y];
        // Items the other side lacks can match nothing: they stay changed and the search
        // runs over the rest.
        std::vector<std::uint32_t> ra, rb, from_a, from_b;
        for (std::size_t i = 0; i < ta.size(); ++i) {
            if (count_b[ta[i]] == 0) continue;
            ra.push_back(ta[i]);
            from_a.push_back(static_cast<std::uint32_t>(i));
        }
        for (std::size_t j = 0; j < tb.size(); ++j) {
            if (count_a[tb[j]] == 0) continue;
            rb.push_back(tb[j]);
            from_b.push_back(static_cast<std::uint32_t>(j));
        }
        // Items once in each side anchor the alignment where their order agrees.
        std::vector<std::uint32_t> where_b(id_count);
        for (std::size_t j = 0; j < rb.size(); ++j) {
            if (count_a[rb[j]] == 1 && count_b[rb[j]] == 1)
                where_b[rb[j]] = static_cast<std::uint32_t>(j);
        }
        std::vector<std::uint32_t> in_a, in_b;
        for (std::size_t i = 0; i < ra.size(); ++i) {
            if (count_a[ra[i]] == 1 && count_b[ra[i]] == 1) {
                in_a.push_back(static_cast<std::uint32_t>(i));
                in_b.push_back(where_b[ra[i]]);
            }
        }
        // Only the search's own arrays stay for the search.
        std::vector<std::uint32_t>().swap(count_a);
        std::vector<std::uint32_t>().swap(count_b);
        std::vector<std::uint32_t>().swap(where_b);
        std::vector<char> rca(ra.size(), 0), rcb(rb.size(), 0);
        const long cost = effort.max_cost
                              ? static_cast<long>(effort.max_cost)
                              : std::max(256L, static_cast<long>(std::sqrt(
                                                   static_cast<double>(ra.size() + rb.size()))));
        middle_snake_diff search(ra, rb, rca, rcb, cost);
        long pa = 0, pb = 0;
        for (const std::uint32_t k : rising_anchors(in_a, in_b)) {
            const auto ai = static_cast<long>(in_a[k]);
            const auto bi = static_cast<long>(in_b[k]);
            search.run(pa, ai, pb, bi);
            pa = ai + 1;
            pb = bi + 1;
        }
        search.run(pa, static_cast<long>(ra.size()), pb, static_cast<long>(rb.size()));
        for (std::size_t i = 0; i < ra.size(); ++i) ca[from_a[i]] = rca[i];
        for (std::size_t j = 0; j < rb.size(); ++j) cb[from_b[j]] = rcb[j];
        slide_down(ta, ca, cb);
        slide_down(tb, cb, ca);
    }

    std::vector<line_hunk> hunks;
    std::size_t i = 0, j = 0;
    while (i < ca.size() || j < cb.size()) {
        if (i < ca.size() && j < cb.size() && !ca[i] && !cb[j]) {
            ++i, ++j;
            continue;
        }
        line_hunk h{head + i, 0, head + j, 0};
        while (i < ca.size() && ca[i]) ++i;
        while (j < cb.size() && cb[j]) ++j;
        if (h.a_begin == head + i && h.b_begin == head + j) break;  // cannot happen
        h.a_end = head + i;
        h.b_end = head + j;
        hunks.push_back(h);
    }
    return hunks;
}

}  // namespace zorv

// Myers' shortest edit script over line numbers, then unified hunks with context.
#include "app/text_diff.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

namespace {

enum class Edit : std::uint8_t { Keep, Remove, Add };

struct Step {
    Edit edit;
    std::size_t from;  // line index in `from` (Keep, Remove)
    std::size_t to;    // line index in `to` (Keep, Add)
};

// Each distinct line gets a number, so that the search compares integers.
void NumberLines(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b,
                 std::vector<std::uint32_t>* na, std::vector<std::uint32_t>* nb) {
    std::unordered_map<std::string_view, std::uint32_t> ids;
    const auto id = [&](std::string_view line) {
        return ids.emplace(line, static_cast<std::uint32_t>(ids.size())).first->second;
    };
    for (const auto line : a) na->push_back(id(line));
    for (const auto line : b) nb->push_back(id(line));
}

// The edit script for a[lo..ha) against b[lo..hb), appended to *steps. False (and nothing
// appended) when the work limit is reached first.
bool ShortestScript(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b,
                    std::size_t lo, std::size_t ha, std::size_t hb, std::vector<Step>* steps) {
    const long n = static_cast<long>(ha - lo), m = static_cast<long>(hb - lo);
    const long max = n + m;
    std::vector<long> v(static_cast<std::size_t>(2 * max + 3), 0);
    const long off = max + 1;
    std::vector<std::vector<std::int32_t>> trace;  // trace[d]: v over k = -d..d after step d
    std::size_t work = 0;
    long endD = -1;
    for (long d = 0; d <= max && endD < 0; ++d) {
        for (long k = -d; k <= d; k += 2) {
            long x = (k == -d || (k != d && v[off + k - 1] < v[off + k + 1])) ? v[off + k + 1]
                                                                              : v[off + k - 1] + 1;
            long y = x - k;
            while (x < n && y < m && a[lo + x] == b[lo + y]) ++x, ++y, ++work;
            v[off + k] = x;
            ++work;
            if (x >= n && y >= m) endD = d;
        }
        trace.emplace_back(v.begin() + off - d, v.begin() + off + d + 1);
        if (work > kDiffWorkLimit && endD < 0) return false;
    }
    std::vector<Step> reversed;
    long x = n, y = m;
    for (long d = endD; d > 0; --d) {
        const std::vector<std::int32_t>& prev = trace[static_cast<std::size_t>(d - 1)];
        const auto at = [&](long k) -> long { return prev[static_cast<std::size_t>(k + d - 1)]; };
        const long k = x - y;
        const long prevK = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? k + 1 : k - 1;
        const long prevX = at(prevK), prevY = prevX - prevK;
        while (x > prevX && y > prevY) {
            --x, --y;
            reversed.push_back(
                {Edit::Keep, lo + static_cast<std::size_t>(x), lo + static_cast<std::size_t>(y)});
        }
        if (x == prevX)
            reversed.push_back({Edit::Add, lo + static_cast<std::size_t>(x),
                                lo + static_cast<std::size_t>(prevY)});
        else
            reversed.push_back({Edit::Remove, lo + static_cast<std::size_t>(prevX),
                                lo + static_cast<std::size_t>(y)});
        x = prevX, y = prevY;
    }
    while (x > 0 && y > 0) {
        --x, --y;
        reversed.push_back(
            {Edit::Keep, lo + static_cast<std::size_t>(x), lo + static_cast<std::size_t>(y)});
    }
    steps->insert(steps->end(), reversed.rbegin(), reversed.rend());
    return true;
}

std::string Range(std::size_t first, std::size_t count) {
    // A hunk that holds no line of this side names the line before it.
    const std::size_t start = count == 0 ? first : first + 1;
    return count == 1 ? std::to_string(start) : std::to_string(start) + "," + std::to_string(count);
}

void WriteHunks(const std::vector<Step>& steps, const std::vector<std::string_view>& a,
                const std::vector<std::string_view>& b, std::string* out) {
    std::size_t i = 0;
    while (i < steps.size()) {
        if (steps[i].edit == Edit::Keep) {
            ++i;
            continue;
        }
        // A hunk: context before, the changes, and context after, merged with the next change
        // when fewer than two contexts' worth of kept lines lie between them.
        const std::size_t begin = i >= kDiffContextLines ? i - kDiffContextLines : 0;
        std::size_t end = i;
        for (;;) {
            while (end < steps.size() && steps[end].edit != Edit::Keep) ++end;
            std::size_t kept = 0;
            while (end + kept < steps.size() && steps[end + kept].edit == Edit::Keep) ++kept;
            if (end + kept < steps.size() && kept <= 2 * kDiffContextLines) {
                end += kept;
                continue;
            }
            end += std::min(kept, kDiffContextLines);
            break;
        }
        std::size_t fromCount = 0, toCount = 0;
        for (std::size_t j = begin; j < end; ++j) {
            if (steps[j].edit != Edit::Add) ++fromCount;
            if (steps[j].edit != Edit::Remove) ++toCount;
        }
        *out += "@@ -" + Range(steps[begin].from, fromCount) + " +" +
                Range(steps[begin].to, toCount) + " @@\n";
        for (std::size_t j = begin; j < end; ++j) {
            const Step& s = steps[j];
            const char mark = s.edit == Edit::Keep ? ' ' : s.edit == Edit::Remove ? '-' : '+';
            out->push_back(mark);
            *out += s.edit == Edit::Add ? b[s.to] : a[s.from];
            out->push_back('\n');
        }
        i = end;
    }
}

}  // namespace

std::vector<std::string_view> TextLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        if (lf == std::string_view::npos) break;
        text.remove_prefix(lf + 1);
    }
    return lines;
}

TextDiff DiffTexts(std::string_view from, std::string_view to, std::string_view fromLabel,
                   std::string_view toLabel) {
    const std::vector<std::string_view> a = TextLines(from), b = TextLines(to);
    std::vector<std::uint32_t> na, nb;
    NumberLines(a, b, &na, &nb);
    // The common beginning and end need no search.
    std::size_t head = 0;
    while (head < na.size() && head < nb.size() && na[head] == nb[head]) ++head;
    std::size_t tail = 0;
    while (tail < na.size() - head && tail < nb.size() - head &&
           na[na.size() - 1 - tail] == nb[nb.size() - 1 - tail])
        ++tail;

    TextDiff diff;
    std::vector<Step> steps;
    steps.reserve(a.size() + b.size() - head - tail);
    for (std::size_t i = 0; i < head; ++i) steps.push_back({Edit::Keep, i, i});
    const std::size_t ha = a.size() - tail, hb = b.size() - tail;
    if (!ShortestScript(na, nb, head, ha, hb, &steps)) {
        diff.approximate = true;
        for (std::size_t i = head; i < ha; ++i) steps.push_back({Edit::Remove, i, head});
        for (std::size_t j = head; j < hb; ++j) steps.push_back({Edit::Add, ha, j});
    }
    for (std::size_t i = 0; i < tail; ++i) steps.push_back({Edit::Keep, ha + i, hb + i});

    for (const Step& s : steps) {
        if (s.edit == Edit::Add) ++diff.added;
        if (s.edit == Edit::Remove) ++diff.removed;
    }
    if (diff.added + diff.removed == 0) return diff;
    diff.text = "--- " + std::string(fromLabel) + "\n+++ " + std::string(toLabel) + "\n";
    WriteHunks(steps, a, b, &diff.text);
    return diff;
}

// The unified diff: exact hunks for the cases an operator reads, a diff that always turns one
// text into the other, read-back comparison, and a bound on the work for huge inputs.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <sstream>

#include "app/config_readback.h"
#include "app/text_diff.h"

namespace {

// Applies a unified diff to `from` (as lines): what `patch` would make of it.
std::vector<std::string> Apply(const std::vector<std::string_view>& from, const std::string& diff) {
    std::vector<std::string> out;
    std::size_t next = 0;  // next line of `from` not yet copied
    std::istringstream in(diff);
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with("---") || line.starts_with("+++")) continue;
        if (line.starts_with("@@ -")) {
            std::size_t start = std::stoul(line.substr(4));
            const std::size_t comma = line.find(',');
            const bool empty = comma < line.find(' ', 4) && line[comma + 1] == '0';
            const std::size_t first = empty ? start : start - 1;
            while (next < first) out.emplace_back(from[next++]);
            continue;
        }
        if (line[0] == ' ') out.emplace_back(from[next++]);
        if (line[0] == '-') ++next;
        if (line[0] == '+') out.push_back(line.substr(1));
    }
    while (next < from.size()) out.emplace_back(from[next++]);
    return out;
}

TEST(TextDiff, HunksCarryThreeLinesOfContextAndLineEndsDoNotCount) {
    struct Case {
        const char* name;
        std::string from, to, diff;
    };
    const Case cases[] = {
        {"same lines, other line ends", "a\r\nb\r\n", "a\nb\n", ""},
        {"one line changed", "1\n2\n3\n4\n5\n6\n7\n8\n", "1\n2\n3\n4\nfive\n6\n7\n8\n",
         "@@ -2,7 +2,7 @@\n 2\n 3\n 4\n-5\n+five\n 6\n 7\n 8\n"},
        {"into an empty text", "", "x\n", "@@ -0,0 +1 @@\n+x\n"},
        {"two changes far apart make two hunks", "a\nb\nc\nd\ne\nf\ng\nh\ni\nj\n",
         "A\nb\nc\nd\ne\nf\ng\nh\ni\nJ\n",
         "@@ -1,4 +1,4 @@\n-a\n+A\n b\n c\n d\n@@ -7,4 +7,4 @@\n g\n h\n i\n-j\n+J\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TextDiff d = DiffTexts(c.from, c.to, "old", "new");
        EXPECT_EQ(d.text, c.diff.empty() ? "" : "--- old\n+++ new\n" + c.diff);
    }
}

TEST(TextDiff, TheDiffTurnsOneTextIntoTheOtherWithTheFewestChanges) {
    std::mt19937 random(14);
    for (int round = 0; round < 300; ++round) {
        std::string from, to;
        for (int i = 0, n = static_cast<int>(random() % 30); i < n; ++i)
            from += std::to_string(random() % 6) + "\n";
        for (int i = 0, n = static_cast<int>(random() % 30); i < n; ++i)
            to += std::to_string(random() % 6) + "\n";
        const TextDiff d = DiffTexts(from, to, "a", "b");
        std::vector<std::string> expected;
        for (const auto line : TextLines(to)) expected.emplace_back(line);
        ASSERT_EQ(Apply(TextLines(from), d.text), expected) << from << "--\n" << to << d.text;
        // The fewest: removed + added = |from| + |to| - 2 * longest common subsequence.
        const auto a = TextLines(from), b = TextLines(to);
        std::vector<std::vector<int>> lcs(a.size() + 1, std::vector<int>(b.size() + 1, 0));
        for (std::size_t i = 1; i <= a.size(); ++i)
            for (std::size_t j = 1; j <= b.size(); ++j)
                lcs[i][j] = a[i - 1] == b[j - 1] ? lcs[i - 1][j - 1] + 1
                                                 : std::max(lcs[i - 1][j], lcs[i][j - 1]);
        EXPECT_EQ(d.added + d.removed, a.size() + b.size() - 2 * lcs[a.size()][b.size()]);
    }
}

TEST(TextDiff, TwoLargeUnrelatedTextsCostSecondsNotMinutes) {
    std::string from, to;
    for (int i = 0; i < 150000; ++i) {
        from += "interface eth" + std::to_string(i) + " speed auto\n";
        to += "route " + std::to_string(i) + " via 10.0.0.1\n";
    }
    const auto start = std::chrono::steady_clock::now();
    const TextDiff d = DiffTexts(from, to, "a", "b");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(d.approximate);
    EXPECT_EQ(d.added, 150000u);
    EXPECT_EQ(d.removed, 150000u);
}

TEST(ReadBackComparison, EveryFileLineMustBeOnTheDeviceWhateverTheLineEnds) {
    const ConfigComparison c = CompareWithDevice("hostname a\r\n\r\nip 1\r\nsnmp on\r\nsnmp on\r\n",
                                                 "banner added\nip 1\nhostname a\n");
    EXPECT_EQ(c.missing, std::vector<std::string>{"snmp on"});
    EXPECT_EQ(c.extra, 1u);
}

}  // namespace

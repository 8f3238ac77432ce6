// Line differences between two texts, as a unified diff: what a restore would change on a
// device, or what a backup changed in a store.
//
// Contract: any thread; pure functions. Lines are compared without their line ends (LF or
// CR LF; a CR before the LF is no part of the line). The work is bounded: past
// kDiffWorkLimit steps the part of the texts between their common beginning and end is shown as
// replaced whole (the result says so), so that two large, very different texts cost seconds at
// most, never minutes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t kDiffWorkLimit = 8'000'000;
inline constexpr std::size_t kDiffContextLines = 3;

struct TextDiff {
    std::string text;  // "--- from\n+++ to\n@@ ... @@\n..."; empty when no line differs
    std::size_t added = 0;
    std::size_t removed = 0;
    bool approximate = false;  // the work limit was reached: not the shortest diff
};

TextDiff DiffTexts(std::string_view from, std::string_view to, std::string_view fromLabel,
                   std::string_view toLabel);

// The lines of a text, without line ends; a last line without one counts, an empty text has none.
std::vector<std::string_view> TextLines(std::string_view text);

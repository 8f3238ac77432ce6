// The page of a fleet backup run: one HTML document an operator opens in a browser the morning
// after. The summary on top, a row per device (failed first, then inventory order), and every
// changed device's masked diff below, each reached from its row.
//
// Contract: pure formatting, any thread; the caller decides where the text goes. The page is
// self-contained (inline style, no script, no link to anything outside itself), and every text
// taken from a run (names, hosts, causes, diffs) is escaped, as any of them may hold markup.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "fleet/fleet_report.h"

struct FleetPageRun {
    std::string store;         // shown in the heading
    std::int64_t madeAt = 0;   // seconds since 1970: when the page is made; ages count to it
    bool interrupted = false;  // the run was cut short after tally.Done() of tally.devices
};

// `results` in any order (the page sorts them).
std::string FleetPage(const FleetPageRun& run, const FleetTally& tally,
                      std::span<const FleetDeviceResult> results);

// The text as HTML element content or a quoted attribute value shows it. Control characters
// other than tab and line end show as \xNN.
std::string HtmlEscaped(std::string_view text);
// "2026-12-09 02:31 UTC".
std::string UtcTimeText(std::int64_t secondsSince1970);
// How long ago, coarsely: "under a minute", "42 min", "5 h 3 min", "3 d 4 h".
std::string AgeText(std::int64_t seconds);

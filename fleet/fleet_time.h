// Times in a fleet's records and reports: ISO 8601 in UTC ("2026-12-09T06:10:00Z") and how
// long ago something was, in an operator's words.
//
// Contract: pure, any thread; times are whole seconds since 1970-01-01 00:00 UTC.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// "YYYY-MM-DDTHH:MM:SSZ"; years 1970 to 9999.
std::string FormatIsoUtc(std::int64_t seconds);
// Exactly the form FormatIsoUtc writes; false for anything else (an impossible date included).
bool ParseIsoUtc(std::string_view text, std::int64_t* seconds);

// How long before `now` the time `then` was: "less than a minute ago", "1 minute ago",
// "5 hours ago", "3 days ago" (minutes below an hour, hours below a day, whole days beyond).
// A `then` after `now` (the clock was set back) counts as just now.
std::string AgeText(std::int64_t then, std::int64_t now);

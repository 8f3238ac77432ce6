// Configuration texts made up for simulated devices: one of a fleet told apart from the others,
// and any text grown to a chosen size (a benchmark's 30 KB configuration).
//
// Contract: pure functions on the caller's thread. Texts have LF line ends.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// `text` followed by numbered padding lines up to exactly `bytes` bytes, the last line ending in
// LF; `text` itself when it is already that long or longer.
std::string PaddedText(std::string_view text, std::size_t bytes);

// The factory text of fleet device `number` at `address`: a first line naming both, then `base`.
std::string FleetDeviceText(std::string_view base, int number, std::string_view address);

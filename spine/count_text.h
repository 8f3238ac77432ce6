// A count with its noun, as every front end writes it: "1 device", "2 devices", "0 bytes".
//
// Contract: pure formatting, any thread. The noun is the singular of a word whose plural adds
// an "s" (device, byte, line).
#pragma once

#include <cstdint>
#include <string>

inline std::string CountText(std::uint64_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

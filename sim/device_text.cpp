#include "sim/device_text.h"

#include <cstdio>

std::string PaddedText(std::string_view text, std::size_t bytes) {
    std::string out(text);
    if (out.size() >= bytes) return out;
    out.reserve(bytes);
    if (!out.empty() && out.back() != '\n') out += '\n';
    for (int line = 1; out.size() < bytes; ++line) {
        char padding[64];
        std::snprintf(padding, sizeof padding, "! padding line %06d ........................\n",
                      line);
        out += padding;
    }
    out.resize(bytes);
    out.back() = '\n';
    return out;
}

std::string FleetDeviceText(std::string_view base, int number, std::string_view address) {
    return "! tavio-sim device " + std::to_string(number) + " at " + std::string(address) + "\n" +
           std::string(base);
}

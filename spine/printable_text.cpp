#include "spine/printable_text.h"

std::string PrintableText(std::string_view text, std::size_t limit) {
    static constexpr char kHex[] = "0123456789abcdef";
    const bool cut = text.size() > limit;
    if (cut) text = text.substr(0, limit);
    std::string out;
    for (const unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
        }
    }
    return cut ? out + "..." : out;
}

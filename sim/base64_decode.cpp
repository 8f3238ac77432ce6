#include "sim/base64_decode.h"

namespace {

int Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

bool Base64Decode(std::string_view text, std::string* bytes) {
    bytes->clear();
    if (text.size() % 4 != 0) return false;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const std::string_view group = text.substr(i, 4);
        const int fill = last ? (group[3] == '=') + (group[2] == '=') : 0;
        if (fill == 1 && group[2] == '=') return false;  // "x=y=" style padding
        int v[4] = {0, 0, 0, 0};
        for (int k = 0; k < 4 - fill; ++k)
            if ((v[k] = Value(group[static_cast<std::size_t>(k)])) < 0) return false;
        const unsigned word = (static_cast<unsigned>(v[0]) << 18) |
                              (static_cast<unsigned>(v[1]) << 12) |
                              (static_cast<unsigned>(v[2]) << 6) | static_cast<unsigned>(v[3]);
        bytes->push_back(static_cast<char>(word >> 16));
        if (fill < 2) bytes->push_back(static_cast<char>((word >> 8) & 0xff));
        if (fill < 1) bytes->push_back(static_cast<char>(word & 0xff));
    }
    return true;
}

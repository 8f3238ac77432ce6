#include "devicecmd/server_type_match.h"

#include <array>

namespace {

struct ServerPattern {
    std::string_view text;
    ServerType result;
};

constexpr std::array<ServerPattern, 5> kServerPatterns{{
    {"Server: Merrowin II", SERVER_UNSUPPORTED},
    {"Server: Wendrake", SERVER_UNSUPPORTED},
    {"Server: Tavio 21", SERVER_TAVIO_21},
    {"Server: Tavio 22", SERVER_TAVIO_22},
    {"Server: Tavio", SERVER_TAVIO},
}};

// True when one of the patterns tested before pattern `index` is longer than `tail` and begins
// with it, so the bytes still to come could turn the match into that pattern.
bool EarlierPatternCouldExtend(std::size_t index, std::string_view tail) {
    for (std::size_t i = 0; i < index; ++i) {
        const std::string_view earlier = kServerPatterns[i].text;
        if (earlier.size() > tail.size() && earlier.starts_with(tail)) return true;
    }
    return false;
}

}  // namespace

ServerTypeMatch MatchServerType(std::string_view text, bool moreMayFollow) {
    for (std::size_t i = 0; i < kServerPatterns.size(); ++i) {
        const std::size_t at = text.find(kServerPatterns[i].text);
        if (at == std::string_view::npos) continue;
        const bool held = moreMayFollow && EarlierPatternCouldExtend(i, text.substr(at));
        return {kServerPatterns[i].result, !held};
    }
    return {};
}

std::size_t LongestServerPattern() {
    std::size_t longest = 0;
    for (const auto& p : kServerPatterns)
        longest = p.text.size() > longest ? p.text.size() : longest;
    return longest;
}

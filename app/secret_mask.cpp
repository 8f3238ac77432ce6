#include "app/secret_mask.h"

#include <array>
#include <cstddef>

namespace {

constexpr std::array<std::string_view, 2> kWholeKeyPieces = {"key", "psk"};
constexpr std::array<std::string_view, 5> kSecretWords = {"password", "passwd", "passphrase",
                                                          "secret", "community"};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsPieceBreak(char c) {
    return c == '-' || c == '_' || c == '.' || c == '/';
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsSecretPiece(std::string_view piece) {
    std::string lower;
    for (const char c : piece) lower += Lower(c);
    for (const std::string_view whole : kWholeKeyPieces)
        if (lower == whole) return true;
    for (const std::string_view word : kSecretWords)
        if (lower.find(word) != std::string::npos) return true;
    return false;
}

bool IsKey(std::string_view name) {
    while (!name.empty()) {
        std::size_t end = 0;
        while (end < name.size() && !IsPieceBreak(name[end])) ++end;
        if (IsSecretPiece(name.substr(0, end))) return true;
        name.remove_prefix(end < name.size() ? end + 1 : end);
    }
    return false;
}

// The first character after the blanks from `at`, or line.size().
std::size_t SkipBlanks(std::string_view line, std::size_t at) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    return at;
}

std::size_t WordEnd(std::string_view line, std::size_t at) {
    while (at < line.size() && !IsBlank(line[at])) ++at;
    return at;
}

// Where the value of the key word line[start, end) begins; line.size() when it has none.
std::size_t ValueStart(std::string_view line, std::size_t start, std::size_t end) {
    const std::string_view word = line.substr(start, end - start);
    const std::size_t separator = word.find_first_of("=:");
    if (separator != std::string_view::npos && separator + 1 < word.size())
        return start + separator + 1;
    std::size_t value = SkipBlanks(line, end);
    if (separator == std::string_view::npos && value < line.size() &&
        WordEnd(line, value) == value + 1 && (line[value] == '=' || line[value] == ':'))
        value = SkipBlanks(line, value + 1);
    // An encoding type before the value proper.
    if (value + 1 < line.size() && line[value] >= '0' && line[value] <= '9' &&
        IsBlank(line[value + 1])) {
        const std::size_t next = SkipBlanks(line, value + 1);
        if (next < line.size()) value = next;
    }
    return value;
}

}  // namespace

std::string MaskSecretLine(std::string_view line) {
    for (std::size_t at = SkipBlanks(line, 0); at < line.size();) {
        const std::size_t end = WordEnd(line, at);
        const std::string_view word = line.substr(at, end - at);
        if (IsKey(word.substr(0, word.find_first_of("=:")))) {
            const std::size_t value = ValueStart(line, at, end);
            if (value >= line.size()) break;
            return std::string(line.substr(0, value)) + std::string(kSecretMask);
        }
        at = SkipBlanks(line, end);
    }
    return std::string(line);
}

std::string MaskSecretsInDiff(std::string_view diff) {
    std::string masked;
    masked.reserve(diff.size());
    bool inHunks = false;
    while (!diff.empty()) {
        const std::size_t lf = diff.find('\n');
        const std::string_view line = diff.substr(0, lf);
        if (line.starts_with("@@")) inHunks = true;
        if (!inHunks || line.starts_with("@@") || line.empty()) {
            masked += line;
        } else {
            masked += line[0];
            masked += MaskSecretLine(line.substr(1));
        }
        if (lf == std::string_view::npos) break;
        masked += '\n';
        diff.remove_prefix(lf + 1);
    }
    return masked;
}

// Basic credentials of the command requests: "user:password" in standard Base64.
#include "devicecmd/basic_credentials.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

char EncodedCredentials[213];

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// The longest user name and password the settings fields hold.
constexpr std::size_t kFieldLimit = 79;

std::size_t BoundedLength(const char* text, std::size_t limit) {
    std::size_t n = 0;
    while (n < limit && text[n] != '\0') ++n;
    return n;
}

}  // namespace

void Base64Encode(const char* input, char* output) {
    const auto* in = reinterpret_cast<const unsigned char*>(input);
    const std::size_t n = std::strlen(input);
    char* out = output;
    for (std::size_t i = 0; i < n; i += 3) {
        const std::uint32_t b0 = in[i];
        const std::uint32_t b1 = i + 1 < n ? in[i + 1] : 0;
        const std::uint32_t b2 = i + 2 < n ? in[i + 2] : 0;
        *out++ = kAlphabet[b0 >> 2];
        *out++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = i + 1 < n ? kAlphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
        *out++ = i + 2 < n ? kAlphabet[b2 & 63] : '=';
    }
    *out = '\0';
}

void EncodeBasicCredentials(const char* userName, const char* password, char (&encoded)[213]) {
    // Longer texts than the fields hold are cut to the field size, so the result always fits.
    std::string joined(userName, BoundedLength(userName, kFieldLimit));
    joined += ':';
    joined.append(password, BoundedLength(password, kFieldLimit));
    Base64Encode(joined.c_str(), encoded);
}

const char* BuildBasicCredentials(const char* userName, const char* password) {
    EncodeBasicCredentials(userName, password, EncodedCredentials);
    return EncodedCredentials;
}

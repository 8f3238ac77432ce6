// Base64 both ways: what the command channel encodes the simulator decodes to the same bytes, the
// Basic credentials decode to "user:password" (each cut to the field size), and whatever the
// decoder accepts encodes back to text it decodes alike.
//
// Input: user name, a zero byte, password (the rest is also tried as Base64 text).
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "devicecmd/basic_credentials.h"
#include "sim/base64_decode.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::string Encode(const std::string& text) {
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\x7f');
    Base64Encode(text.c_str(), out.data());
    FUZZ_CHECK(out.back() == '\0');
    out.pop_back();
    return out;
}

void CheckRoundTrip(const std::string& text) {  // text holds no zero byte
    const std::string encoded = Encode(text);
    FUZZ_CHECK(std::strlen(encoded.c_str()) == encoded.size());
    std::string decoded;
    FUZZ_CHECK(Base64Decode(encoded, &decoded));
    FUZZ_CHECK(decoded == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t zero = input.find('\0');
    const std::string user(input.substr(0, zero));
    const std::string rest(zero == std::string_view::npos ? "" : input.substr(zero + 1));
    const std::string password = rest.substr(0, rest.find('\0'));

    CheckRoundTrip(user);

    std::string credentials;
    FUZZ_CHECK(Base64Decode(BuildBasicCredentials(user.c_str(), password.c_str()), &credentials));
    FUZZ_CHECK(credentials == user.substr(0, 79) + ":" + password.substr(0, 79));
    FUZZ_CHECK(std::strlen(EncodedCredentials) < sizeof EncodedCredentials);

    std::string decoded;
    if (Base64Decode(input, &decoded)) {
        FUZZ_CHECK(input.size() % 4 == 0);
        FUZZ_CHECK(decoded.size() <= input.size() / 4 * 3 &&
                   decoded.size() + 2 >= input.size() / 4 * 3);
        if (decoded.find('\0') == std::string::npos) CheckRoundTrip(decoded);
    }
    return 0;
}

// Standard Base64 (RFC 4648) decoding, for the Authorization header of a request.
#pragma once

#include <string>
#include <string_view>

// False when `text` is not well-formed Base64 (wrong length, a stray character, bad padding).
bool Base64Decode(std::string_view text, std::string* bytes);

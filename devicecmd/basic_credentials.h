// Basic credentials of the command requests.
#pragma once

// The latest result of BuildBasicCredentials: at most 212 characters and a zero.
extern char EncodedCredentials[213];

const char* BuildBasicCredentials(const char* userName, const char* password);
// The same encoding into the caller's buffer; any thread.
void EncodeBasicCredentials(const char* userName, const char* password, char (&encoded)[213]);
// Standard Base64 (RFC 4648) of the zero-terminated input; output holds 4*ceil(n/3)+1 bytes.
void Base64Encode(const char* input, char* output);

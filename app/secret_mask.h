// Secrets kept out of the diffs we print: a configuration line that sets a password, a secret,
// a key or a community shows its value as kSecretMask, the rest of the line as it is, so that
// the line stays recognisable ("user root password ********"). Only what is printed is masked;
// the texts stored and sent are never touched.
//
// Contract: any thread; pure functions. The rule, on one line:
// - The line is read as words separated by blanks (spaces, tabs). A word is a *key* when the
//   part of it before its first '=' or ':' has, among its pieces split at '-', '_', '.' and '/',
//   one that is "key" or "psk", or one that holds "password", "passwd", "passphrase", "secret"
//   or "community" (letter case does not count): "password", "snmp-community", "wpa_key=",
//   "RootPassword:". "keyboard" and "monkey" are no keys.
// - The first key's value is what follows it: the rest of the word after its '=' or ':' when
//   there is any, else the next words (a lone "=" or ":" word before them is a separator). A
//   single digit with more words after it is an encoding type and stays ("enable secret 5
//   ********").
// - From the value's first character to the line's end becomes kSecretMask (a value of several
//   words is masked whole, and so is anything after it). A key with nothing after it leaves the
//   line as it is ("no snmp community"), and so does a line without a key.
// The rule errs on the side of masking: a line that merely mentions such a word before other
// words ("crypto key generate rsa") is masked too.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::string_view kSecretMask = "********";

// One line, without its line end.
std::string MaskSecretLine(std::string_view line);

// A unified diff (as DiffTexts gives it): every line of a hunk masked after its mark (' ', '-',
// '+'); the file lines before the first hunk ("--- ", "+++ ") and the "@@" lines as they are.
std::string MaskSecretsInDiff(std::string_view diff);

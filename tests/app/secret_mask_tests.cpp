// Masked secrets: the configuration lines that set one show ******** for the value, every other
// line stays as it is, and a diff's file and hunk lines are never touched.
#include <gtest/gtest.h>

#include "app/secret_mask.h"
#include "app/text_diff.h"

namespace {

TEST(SecretMask, ValuesOfSecretLinesAreMaskedAndOtherLinesKept) {
    const struct {
        const char* line;
        const char* shown;  // nullptr: as it is
    } cases[] = {
        {"user root password tundra", "user root password ********"},
        {"snmp-community public", "snmp-community ********"},
        {"  SNMP Community private ro", "  SNMP Community ********"},
        {"wpa_key=abc def", "wpa_key=********"},
        {"RootPassword: tundra", "RootPassword: ********"},
        {"radius key = s3cr3t", "radius key = ********"},
        {"enable secret 5 $1$mERr$hx5", "enable secret 5 ********"},
        {"password 7", "password ********"},
        {"wifi psk\t'two words'", "wifi psk\t********"},
        {"hostname tavio", nullptr},
        {"ip address dhcp", nullptr},
        {"serial 1 speed 9600", nullptr},
        {"keyboard us", nullptr},
        {"ip host monkey 10.0.0.1", nullptr},
        {"no snmp community", nullptr},
        {"hostname key-server", nullptr},
        {"password=", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MaskSecretLine(c.line), c.shown ? c.shown : c.line) << c.line;
}

TEST(SecretMask, ADiffKeepsItsFileAndHunkLines) {
    const std::string from = "hostname a\nuser root password old\n-- secret x\n";
    const std::string to = "hostname a\nuser root password new\n";
    const TextDiff diff = DiffTexts(from, to, "password.cfg", "secret.cfg");
    EXPECT_EQ(MaskSecretsInDiff(diff.text),
              "--- password.cfg\n+++ secret.cfg\n@@ -1,3 +1,2 @@\n hostname a\n"
              "-user root password ********\n--- secret ********\n+user root password ********\n");
    EXPECT_EQ(MaskSecretsInDiff(""), "");
}

}  // namespace

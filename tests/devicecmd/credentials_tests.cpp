// Base64 and the Basic credentials built from user name and password.
#include <gtest/gtest.h>

#include <string>

#include "devicecmd/basic_credentials.h"
#include "devicecmd/chunked_search.h"
#include "sim/base64_decode.h"

namespace {

std::string Encode(const std::string& input) {
    std::string out(4 * ((input.size() + 2) / 3) + 1, '?');
    Base64Encode(input.c_str(), out.data());
    EXPECT_EQ(out.back(), '\0') << "the output fills exactly 4*ceil(n/3) characters and a zero";
    return out.c_str();
}

}  // namespace

TEST(Base64, Rfc4648TestVectors) {
    EXPECT_EQ(Encode(""), "");
    EXPECT_EQ(Encode("f"), "Zg==");
    EXPECT_EQ(Encode("fo"), "Zm8=");
    EXPECT_EQ(Encode("foo"), "Zm9v");
    EXPECT_EQ(Encode("foob"), "Zm9vYg==");
    EXPECT_EQ(Encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(Encode("foobar"), "Zm9vYmFy");
}

TEST(Base64, BytesAbove127AreUnsignedAndEveryAlphabetEntryIsReached) {
    EXPECT_EQ(Encode("\xff\xfe\xfd"), "//79");
    EXPECT_EQ(Encode("\x80"), "gA==");
    EXPECT_EQ(Encode("\xe9t\xe9"), "6XTp");  // Latin-1 "été"
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    std::string back;
    ASSERT_TRUE(Base64Decode(Encode(all), &back));
    EXPECT_EQ(back, all);
}

TEST(BasicCredentials, JoinsWithAColonEvenWhenOneSideIsEmpty) {
    EXPECT_STREQ(BuildBasicCredentials("root", "tundra"), "cm9vdDp0dW5kcmE=");
    EXPECT_STREQ(BuildBasicCredentials("root", ""), "cm9vdDo=");        // "root:"
    EXPECT_STREQ(BuildBasicCredentials("", "tundra"), "OnR1bmRyYQ==");  // ":tundra"
    EXPECT_STREQ(BuildBasicCredentials("", ""), "Og==");
    EXPECT_EQ(BuildBasicCredentials("a", "b"), EncodedCredentials)
        << "the result is the shared area";
}

TEST(BasicCredentials, LongestFieldsEncodeWholeAndLongerOnesAreCutToTheField) {
    const std::string user(79, 'u'), password(79, 'p');
    const std::string full = BuildBasicCredentials(user.c_str(), password.c_str());
    EXPECT_EQ(full.size(), 212u);
    std::string decoded;
    ASSERT_TRUE(Base64Decode(full, &decoded));
    EXPECT_EQ(decoded, user + ":" + password);

    const std::string longer(200, 'x');
    EXPECT_EQ(std::string(BuildBasicCredentials(longer.c_str(), longer.c_str())).size(), 212u);
}

TEST(ChunkedSearch, FindsAWordAcrossReadsButNotPastAZeroByte) {
    auto bytes = [](std::string_view s) {
        return std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    };
    ChunkedSearch search(12);
    EXPECT_EQ(search.Next(bytes("401 unauth")).find("unauthorized"), std::string_view::npos);
    EXPECT_NE(search.Next(bytes("orized")).find("unauthorized"), std::string_view::npos);

    ChunkedSearch zero(12);
    const std::string withZero("x\0unauth", 8);
    EXPECT_EQ(zero.Next(bytes(withZero)), "x");
    EXPECT_EQ(zero.Next(bytes("orized")), "orized") << "text after a zero byte is never searched";
}

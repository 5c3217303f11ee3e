#include "base/Base64.h"

#include <gtest/gtest.h>

// RFC 4648's test vectors, and the bytes either alphabet tells apart.
TEST(Base64, EncodesAndDecodesTheStandardVectors) {
    const struct {
        std::string_view bytes, standard, url;
    } cases[] = {
        {"", "", ""},
        {"f", "Zg==", "Zg"},
        {"fo", "Zm8=", "Zm8"},
        {"foo", "Zm9v", "Zm9v"},
        {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
        {"\xfb\xff\xbf", "+/+/", "-_-_"},
        {std::string_view("user=a\x01\x01", 8), "dXNlcj1hAQE=", "dXNlcj1hAQE"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Base64Encode(c.bytes), c.standard);
        EXPECT_EQ(Base64UrlEncode(c.bytes), c.url);
        EXPECT_EQ(Base64Decode(c.standard), std::string(c.bytes));
    }
}

TEST(Base64, RefusesWhatIsNotBase64) {
    for (std::string_view text : {"Zm9v\r\n", "Zm 9v", "Z", "Zm9vY", "Zg=a", "-_-_", "Zm9v!"})
        EXPECT_EQ(Base64Decode(text), std::nullopt) << text;
    EXPECT_EQ(Base64Decode("Zg"), "f");
}

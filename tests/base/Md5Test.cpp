#include "base/Md5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct DigestCase {
    std::string input;
    std::u16string hex;
};

// The test suite of RFC 1321, appendix A.5.
const DigestCase kRfcVectors[] = {
    {"", u"d41d8cd98f00b204e9800998ecf8427e"},
    {"a", u"0cc175b9c0f1b6a831c399e269772661"},
    {"abc", u"900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", u"f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", u"c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", u"d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     u"57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(IdHashMD5, MatchesTheRfcTestSuite) {
    for (const DigestCase& c : kRfcVectors)
        EXPECT_EQ(Md5Digest::HashBytesAsHex(c.input), c.hex) << '"' << c.input << '"';
}

TEST(IdHashMD5, PaddingBoundariesAgreeBetweenOneCallAndByteWiseFeeding) {
    // Lengths around the 56- and 64-byte limits exercise each padding path.
    for (size_t length : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
        const std::string input(length, 'x');
        Md5Digest hash;
        for (char c : input)
            hash.Update(std::string_view(&c, 1));
        EXPECT_EQ(hash.Final(), Md5Digest::HashBytes(input)) << length;
    }
    EXPECT_EQ(Md5Digest::HashBytesAsHex(std::string(64, 'a')), u"014842d480b571495a4a0363793f7367");
}

TEST(IdHashMD5, FinalStartsAFreshDigest) {
    Md5Digest hash;
    hash.Update("something else");
    hash.Final();
    hash.Update("abc");
    EXPECT_EQ(hash.Final(), Md5Digest::HashBytes("abc"));
}

TEST(IdHashMD5, ApopDigestOfTheRfc1939Example) {
    EXPECT_EQ(ApopDigest(u"<1896.697170952@dbc.mtview.ca.us>", u"tanstaaf"),
              u"c4c9334bac560ecc979e58001b3e22fb");
}

TEST(IdHashMD5, ApopDigestTakesNonAsciiPasswordsAsUtf8) {
    EXPECT_EQ(ApopDigest(u"<a>", u"l\u00f6senord"), Md5Digest::HashBytesAsHex("<a>l\xc3\xb6senord"));
}

} // namespace

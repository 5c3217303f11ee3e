#include <gtest/gtest.h>

#include "toolz/INIToolz.h"

namespace {

constexpr int32_t NotANumber = 12345;

int32_t Parse(std::u16string_view text) {
    return IntegerFromText(text, NotANumber);
}

} // namespace

TEST(IntegerFromText, DecimalWithBlanksAndSign) {
    EXPECT_EQ(Parse(u"  42"), 42);
    EXPECT_EQ(Parse(u"+7"), 7);
    EXPECT_EQ(Parse(u"-0"), 0);
    EXPECT_EQ(Parse(u"-17"), -17);
    EXPECT_EQ(Parse(u"000000000000110"), 110);
}

TEST(IntegerFromText, DecimalRangeIsSigned32Bit) {
    EXPECT_EQ(Parse(u"2147483647"), 2147483647);
    EXPECT_EQ(Parse(u"-2147483648"), INT32_MIN);
    EXPECT_EQ(Parse(u"2147483648"), NotANumber);
    EXPECT_EQ(Parse(u"-2147483649"), NotANumber);
    EXPECT_EQ(Parse(u"99999999999999999999999"), NotANumber);
}

TEST(IntegerFromText, HexadecimalHoldsAny32BitPattern) {
    EXPECT_EQ(Parse(u"$7fffffff"), 2147483647);
    EXPECT_EQ(Parse(u"$80000000"), INT32_MIN);
    EXPECT_EQ(Parse(u"0xFFFFFFFF"), -1);
    EXPECT_EQ(Parse(u"x1A"), 26);
    EXPECT_EQ(Parse(u"X1a"), 26);
    EXPECT_EQ(Parse(u"0X10"), 16);
    EXPECT_EQ(Parse(u"-$10"), -16);
    EXPECT_EQ(Parse(u"-$80000000"), INT32_MIN);
    EXPECT_EQ(Parse(u"$000000000001"), 1) << "leading zeros do not count";
    EXPECT_EQ(Parse(u"$100000000"), NotANumber);
}

TEST(IntegerFromText, AnythingElseIsNotANumber) {
    for (std::u16string_view text : {u"", u" ", u"+", u"-", u"42 ", u"4 2", u"1a", u"0x", u"$", u"x", u"$g",
                                     u"+-1", u"\t1", u"yes", u"1.0", u"\uFF11"})
        EXPECT_EQ(Parse(text), NotANumber) << std::string(text.begin(), text.end());
}

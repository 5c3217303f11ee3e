#include <gtest/gtest.h>

#include "toolz/Toolz.h"

namespace {

std::u16string AllCharactersUpToFF() {
    std::u16string text;
    for (char16_t c = 1; c <= 0xFF; ++c)
        text.push_back(c);
    return text;
}

} // namespace

TEST(Scramble, WorkedExampleGivesSixKeyLetters) {
    // abc -> 61 62 63 -> inverted 9E 9D 9C -> K[9] K[14] K[9] K[13] K[9] K[12]
    EXPECT_EQ(ScrambleCredential(u"abc"), u"XLXVXJ");
    EXPECT_EQ(UnscrambleCredential(u"XLXVXJ"), u"abc");
}

TEST(Scramble, EmptyStaysEmpty) {
    EXPECT_EQ(ScrambleCredential(u""), u"");
    EXPECT_EQ(UnscrambleCredential(u""), u"");
}

TEST(Scramble, EveryCharacterUpToFFSurvivesAsKeyLettersTwiceAsLong) {
    const std::u16string text = AllCharactersUpToFF();
    const std::u16string stored = ScrambleCredential(text);
    EXPECT_EQ(stored.size(), 2 * text.size());
    EXPECT_EQ(stored.find_first_not_of(KeyAlphabet), std::u16string::npos);
    EXPECT_EQ(UnscrambleCredential(stored), text);
}

TEST(Scramble, CharactersAboveFFKeepTheirLowByte) {
    EXPECT_EQ(ScrambleCredential(u"\u0141"), ScrambleCredential(u"A"));
    EXPECT_EQ(UnscrambleCredential(ScrambleCredential(u"\u0141ukasz")), u"Aukasz");
    EXPECT_EQ(TextToByteString(u"\u00E9\u0141"), "\xE9\x41");
    EXPECT_EQ(ByteStringToText("\xE9"), u"\u00E9");
}

TEST(Unscramble, LetterCaseOfStoredLettersDoesNotMatter) {
    EXPECT_EQ(UnscrambleCredential(u"xlxvxj"), u"abc");
    EXPECT_EQ(UnscrambleCredential(u"xLXvxJ"), u"abc");
}

TEST(Unscramble, HexadecimalDigitsCountAsTheirKeyLetters) {
    EXPECT_EQ(UnscrambleCredential(u"9E"), u"a");
    EXPECT_EQ(UnscrambleCredential(u"9e"), u"a");
    EXPECT_EQ(UnscrambleCredential(u"X"
                                   u"E"),
              u"a");
}

TEST(Unscramble, OddLengthDecodesTheLastLetterAlone) {
    EXPECT_EQ(UnscrambleCredential(u"M"), u"\u00FF"); // digit 0 inverted
    EXPECT_EQ(UnscrambleCredential(u"Q"), u"\u00F0"); // digit F inverted
    EXPECT_EQ(UnscrambleCredential(u"XLX"), u"a\u00F6");
}

TEST(Unscramble, PairWithAnythingButDigitsAndKeyLettersReadsAsZero) {
    EXPECT_EQ(UnscrambleCredential(u"X "), u"\u00FF");
    EXPECT_EQ(UnscrambleCredential(u"!!XL"), u"\u00FFa");
    EXPECT_EQ(UnscrambleCredential(u"G1"), u"\u00FF");
}

TEST(Unscramble, CharactersAboveFFAreReducedToTheirLowByteFirst) {
    // U+0158 and U+014C have the low bytes of X and L.
    EXPECT_EQ(UnscrambleCredential(u"\u0158\u014C"), u"a");
}

TEST(ScrambleBytes, PlainModeTakesBytesAsTheyAre) {
    EXPECT_EQ(ScrambleBytes("\x9E", KeyAlphabet, false), "XL");
    EXPECT_EQ(UnscrambleBytes("XL", KeyAlphabet, false), "\x9E");
    EXPECT_EQ(ScrambleBytes("a", KeyAlphabet, true), "XL");
}

TEST(ScrambleBytes, ReplacePassesRunInDigitOrder) {
    // With the hexadecimal digits as key letters every pass puts back what it found.
    EXPECT_EQ(ScrambleBytes("\x01\xAB", u"0123456789ABCDEF", false), "01AB");
    // A key letter that is a later digit is replaced again by that digit's pass: 0 -> 1 -> R.
    std::u16string shifted(KeyAlphabet);
    shifted[0] = u'1';
    EXPECT_EQ(ScrambleBytes(std::string(1, '\0'), shifted, false), "RR");
}

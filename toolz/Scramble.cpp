#include "toolz/Toolz.h"

#include "toolz/INIToolz.h"

#include <algorithm>

// The stored user name and password: each byte (inverted with FF) written as two hexadecimal
// digits, and each digit then replaced by the key letter of its value. The replacements run as
// sixteen case-insensitive replace-all passes in digit order, so any key alphabet behaves the same
// way as the program's own.

namespace {

constexpr std::u16string_view HexDigits = u"0123456789ABCDEF";
constexpr uint8_t InvertMask = 0xFF;

char16_t AsciiUpper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

bool SameLetterIgnoringCase(char16_t a, char16_t b) {
    return AsciiUpper(a) == AsciiUpper(b);
}

// Replaces every occurrence of `from`, in either letter case, by `to`.
void ReplaceAllIgnoringCase(std::u16string& text, char16_t from, char16_t to) {
    for (auto& c : text)
        if (SameLetterIgnoringCase(c, from))
            c = to;
}

// A group of one or two characters read as a hexadecimal number; 0 when any is not a digit.
unsigned GroupValue(std::u16string_view group) {
    return static_cast<unsigned>(IntegerFromText(u"$" + std::u16string(group), 0));
}

// A key alphabet of other than sixteen letters only supplies the digits it has letters for.
size_t UsableKeyLetters(std::u16string_view keyAlphabet) {
    return std::min(keyAlphabet.size(), HexDigits.size());
}

} // namespace

TByteString TextToByteString(std::u16string_view text) {
    TByteString out;
    out.reserve(text.size());
    for (char16_t c : text)
        out.push_back(static_cast<char>(c & 0xFF));
    return out;
}

std::u16string ByteStringToText(const TByteString& bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char c : bytes)
        out.push_back(static_cast<unsigned char>(c));
    return out;
}

TByteString ScrambleBytes(const TByteString& bytes, std::u16string_view keyAlphabet, bool invert) {
    std::u16string hex;
    hex.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const uint8_t value = static_cast<uint8_t>(c) ^ (invert ? InvertMask : 0);
        hex.push_back(HexDigits[value >> 4]);
        hex.push_back(HexDigits[value & 0x0F]);
    }
    for (size_t digit = 0; digit < UsableKeyLetters(keyAlphabet); ++digit)
        ReplaceAllIgnoringCase(hex, HexDigits[digit], keyAlphabet[digit]);
    return TextToByteString(hex);
}

TByteString UnscrambleBytes(const TByteString& scrambled, std::u16string_view keyAlphabet, bool invert) {
    std::u16string hex = ByteStringToText(scrambled);
    for (size_t digit = 0; digit < UsableKeyLetters(keyAlphabet); ++digit)
        ReplaceAllIgnoringCase(hex, keyAlphabet[digit], HexDigits[digit]);
    const std::u16string_view view(hex);
    TByteString out;
    out.reserve((view.size() + 1) / 2);
    for (size_t start = 0; start < view.size(); start += 2) {
        const unsigned value = GroupValue(view.substr(start, 2)) ^ (invert ? InvertMask : 0u);
        out.push_back(static_cast<char>(value & 0xFF));
    }
    return out;
}

std::u16string ScrambleCredential(std::u16string_view text) {
    return ByteStringToText(ScrambleBytes(TextToByteString(text), KeyAlphabet, true));
}

std::u16string UnscrambleCredential(std::u16string_view storedText) {
    return ByteStringToText(UnscrambleBytes(TextToByteString(storedText), KeyAlphabet, true));
}

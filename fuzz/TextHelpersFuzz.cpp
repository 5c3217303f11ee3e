// The text helpers every layer uses: UTF-8 and UTF-16 round trips checked against a UTF-8
// validator of the harness's own, integer conversion against a reference written here from the
// rules (sign, "$"/"x"/"0x" hexadecimal, 32-bit range, leading zeros free), and the ASCII case
// and trimming helpers.

#include <fuzzer/FuzzedDataProvider.h>

#include "base/Integers.h"
#include "base/Text.h"
#include "fuzz/FuzzChecks.h"

namespace {

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        size_t length = 0;
        char32_t cp = 0;
        if (lead < 0x80)
            length = 1, cp = lead;
        else if (lead >= 0xC2 && lead <= 0xDF)
            length = 2, cp = lead & 0x1F;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3, cp = lead & 0x0F;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4, cp = lead & 0x07;
        else
            return false;
        if (i + length > bytes.size())
            return false;
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (next & 0x3F);
        }
        const char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < shortest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

// The units with every surrogate that is not half of a pair replaced by U+FFFD.
std::u16string WithoutUnpairedSurrogates(std::u16string units) {
    for (size_t i = 0; i < units.size(); ++i) {
        const bool high = units[i] >= 0xD800 && units[i] <= 0xDBFF;
        const bool low = units[i] >= 0xDC00 && units[i] <= 0xDFFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF)
            ++i;
        else if (high || low)
            units[i] = 0xFFFD;
    }
    return units;
}

// The digit's value in base 16, or 99 for a character that is no digit.
int DigitValue(char16_t c) {
    constexpr std::u16string_view digits = u"0123456789abcdef";
    const size_t at = digits.find(c >= u'A' && c <= u'F' ? static_cast<char16_t>(c + 32) : c);
    return at == std::u16string_view::npos ? 99 : static_cast<int>(at);
}

// The conversion rules, followed step by step: significant digits are counted first, so no
// value ever overflows.
std::optional<int32_t> ReferenceTextToInt(std::u16string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == u'+' || text[0] == u'-')) {
        negative = text[0] == u'-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.starts_with(u"0x") || text.starts_with(u"0X"))
        base = 16, text.remove_prefix(2);
    else if (!text.empty() && (text[0] == u'$' || text[0] == u'x' || text[0] == u'X'))
        base = 16, text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    for (char16_t c : text)
        if (DigitValue(c) >= base)
            return std::nullopt;
    while (text.size() > 1 && text[0] == u'0')
        text.remove_prefix(1);
    if (text.size() > (base == 16 ? 8u : 10u))
        return std::nullopt;
    int64_t value = 0;
    for (char16_t c : text)
        value = value * base + DigitValue(c);
    if (base == 16) // any 32-bit pattern; the sign negates it
        return static_cast<int32_t>(static_cast<uint32_t>(negative ? -value : value));
    if (value > (negative ? 2147483648LL : 2147483647LL))
        return std::nullopt;
    return static_cast<int32_t>(negative ? -value : value);
}

std::string Shown(std::optional<int32_t> value) {
    return value ? std::to_string(*value) : "not a number";
}

void CheckUtf8(std::string_view bytes) {
    const std::u16string text = Utf8ToText(bytes);
    FUZZ_CHECK(WithoutUnpairedSurrogates(text) == text, Quoted(bytes));
    const std::string back = TextToUtf8(text);
    FUZZ_CHECK(IsValidUtf8(back), Quoted(bytes));
    if (IsValidUtf8(bytes))
        FUZZ_CHECK(back == bytes, Quoted(bytes) + " came back as " + Quoted(back));
    FUZZ_CHECK(Utf8ToText(back) == text, Quoted(bytes));
}

void CheckUtf16(std::u16string_view units) {
    const std::string utf8 = TextToUtf8(units);
    FUZZ_CHECK(IsValidUtf8(utf8), Quoted(units));
    FUZZ_CHECK(Utf8ToText(utf8) == WithoutUnpairedSurrogates(std::u16string(units)), Quoted(units));
}

void CheckIntegers(std::u16string_view text, int32_t number) {
    const std::optional<int32_t> converted = TryTextToInt(text);
    const std::optional<int32_t> expected = ReferenceTextToInt(text);
    FUZZ_CHECK(converted == expected,
               Quoted(text) + " gave " + Shown(converted) + ", not " + Shown(expected));
    FUZZ_CHECK(TryTextToInt(IntToText(number)) == number, std::to_string(number));
    char hex[16];
    std::snprintf(hex, sizeof hex, "$%X", static_cast<unsigned>(number));
    FUZZ_CHECK(TryTextToInt(AsciiToText(hex)) == number, hex);
}

void CheckCaseAndTrim(std::u16string_view text) {
    const std::u16string upper = AsciiUpperCase(text), lower = AsciiLowerCase(text);
    FUZZ_CHECK(upper.size() == text.size() && lower.size() == text.size(), Quoted(text));
    for (size_t i = 0; i < text.size(); ++i) {
        const bool letter = (text[i] | 0x20) >= u'a' && (text[i] | 0x20) <= u'z';
        FUZZ_CHECK(letter ? upper[i] == (text[i] & ~0x20) && lower[i] == (text[i] | 0x20)
                          : upper[i] == text[i] && lower[i] == text[i],
                   Quoted(text));
    }
    FUZZ_CHECK(SameTextAscii(upper, lower) && SameTextAscii(text, upper), Quoted(text));
    const std::u16string trimmed = TrimControlAndBlanks(text);
    FUZZ_CHECK(text.find(trimmed) != std::u16string_view::npos, Quoted(text));
    FUZZ_CHECK(trimmed.empty() || (trimmed.front() > 32 && trimmed.back() > 32), Quoted(text));
    FUZZ_CHECK(TrimControlAndBlanks(trimmed) == trimmed, Quoted(text));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int32_t number = input.ConsumeIntegral<int32_t>();
    const std::string bytes = input.ConsumeRemainingBytesAsString();
    CheckUtf8(bytes);
    std::u16string units; // the same bytes read as UTF-16 code units
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) << 8 |
                                       static_cast<unsigned char>(bytes[i + 1]));
    CheckUtf16(units);
    const std::u16string latin1 = AsciiToText(bytes); // one character per byte: digits and signs come easily
    CheckIntegers(latin1, number);
    CheckIntegers(units, number);
    CheckCaseAndTrim(latin1);
    CheckCaseAndTrim(units);
    return 0;
}

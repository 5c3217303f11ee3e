#include "base/Integers.h"

#include <string>

#include "base/Text.h"

std::u16string IntToText(int64_t value) {
    return AsciiToText(std::to_string(value));
}

int HexDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

namespace {

// Digits in the given base as an unsigned value; nothing when a character is no digit, there
// are none, or the value passes `limit`.
std::optional<uint64_t> ParseDigits(std::u16string_view digits, int base, uint64_t limit) {
    if (digits.empty())
        return std::nullopt;
    uint64_t value = 0;
    for (char16_t c : digits) {
        const int digit = HexDigitValue(c);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        value = value * base + static_cast<uint64_t>(digit);
        if (value > limit)
            return std::nullopt;
    }
    return value;
}

size_t HexPrefixLength(std::u16string_view text) {
    if (text.starts_with(u"0x") || text.starts_with(u"0X"))
        return 2;
    if (text.starts_with(u'$') || text.starts_with(u'x') || text.starts_with(u'X'))
        return 1;
    return 0;
}

} // namespace

std::optional<int32_t> TryTextToInt(std::u16string_view text) {
    const bool negative = text.starts_with(u'-');
    if (negative || text.starts_with(u'+'))
        text.remove_prefix(1);
    const size_t hexPrefix = HexPrefixLength(text);
    const uint64_t decimalLimit = negative ? uint64_t{1} << 31 : INT32_MAX;
    const std::optional<uint64_t> magnitude = hexPrefix > 0
                                                  ? ParseDigits(text.substr(hexPrefix), 16, UINT32_MAX)
                                                  : ParseDigits(text, 10, decimalLimit);
    if (!magnitude)
        return std::nullopt;
    const auto bits = static_cast<uint32_t>(*magnitude);
    return static_cast<int32_t>(negative ? 0u - bits : bits);
}

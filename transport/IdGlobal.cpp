#include "transport/IdGlobal.h"

#include <chrono>

#include "transport/IdException.h"
#include "transport/IdResourceStrings.h"

namespace {

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

} // namespace

std::u16string Utf8ToText(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        size_t extra = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, cp = c & 0x1F, minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, cp = c & 0x0F, minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, cp = c & 0x07, minimum = 0x10000;
        } else {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k <= extra && i + k < utf8.size() && IsContinuation(static_cast<unsigned char>(utf8[i + k]));
             ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        if (k <= extra || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(u'\uFFFD');
            i += k;
            continue;
        }
        AppendUtf16(out, cp);
        i += extra + 1;
    }
    return out;
}

std::string TextToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::u16string AsciiToText(std::string_view ascii) {
    std::u16string out;
    out.reserve(ascii.size());
    for (char c : ascii)
        out.push_back(static_cast<unsigned char>(c));
    return out;
}

std::u16string IntToText(int64_t value) {
    return AsciiToText(std::to_string(value));
}

std::u16string AsciiUpperCase(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - 32);
    return out;
}

std::u16string AsciiLowerCase(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + 32);
    return out;
}

bool SameTextAscii(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && AsciiUpperCase(a) == AsciiUpperCase(b);
}

std::u16string TrimControlAndBlanks(std::u16string_view text) {
    size_t first = 0, last = text.size();
    while (first < last && text[first] <= 32)
        ++first;
    while (last > first && text[last - 1] <= 32)
        --last;
    return std::u16string(text.substr(first, last - first));
}

namespace {

constexpr uint8_t kAsciiReplacement = '?';

TIdBytes TextToAscii(std::u16string_view text) {
    TIdBytes bytes(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        bytes[i] = text[i] < 0x80 ? static_cast<uint8_t>(text[i]) : kAsciiReplacement;
    return bytes;
}

std::u16string AsciiBytesToText(const uint8_t* bytes, size_t count) {
    std::u16string text(count, u'\0');
    for (size_t i = 0; i < count; ++i)
        text[i] = bytes[i] < 0x80 ? bytes[i] : kAsciiReplacement;
    return text;
}

} // namespace

TIdBytes TextToBytes(std::u16string_view text, WireEncoding encoding) {
    if (encoding == weNone)
        throw EIdNoEncodingSpecified(RSNoEncodingSpecified);
    if (text.empty())
        return {};
    if (encoding == weUtf8) {
        const std::string utf8 = TextToUtf8(text);
        return TIdBytes(utf8.begin(), utf8.end());
    }
    if (encoding == weRaw8) {
        TIdBytes bytes(text.size());
        for (size_t i = 0; i < text.size(); ++i)
            bytes[i] = static_cast<uint8_t>(text[i] & 0xFF);
        return bytes;
    }
    return TextToAscii(text);
}

std::u16string BytesToText(const uint8_t* bytes, size_t count, WireEncoding encoding) {
    if (encoding == weNone)
        throw EIdNoEncodingSpecified(RSNoEncodingSpecified);
    if (count == 0)
        return {};
    if (encoding == weUtf8)
        return Utf8ToText(std::string_view(reinterpret_cast<const char*>(bytes), count));
    if (encoding == weRaw8)
        return std::u16string(bytes, bytes + count);
    return AsciiBytesToText(bytes, count);
}

uint32_t MillisecondTicks() {
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
}

uint32_t TicksBetween(uint32_t oldTicks, uint32_t newTicks) {
    if (newTicks >= oldTicks)
        return newTicks - oldTicks;
    return newTicks + (UINT32_MAX - oldTicks);
}

namespace {

int HexDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

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

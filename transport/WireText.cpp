#include "transport/WireText.h"

#include "base/Text.h"
#include "transport/Messages.h"
#include "transport/TransportErrors.h"

namespace {

constexpr uint8_t AsciiReplacement = '?';

TIdBytes TextToAscii(std::u16string_view text) {
    TIdBytes bytes(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        bytes[i] = text[i] < 0x80 ? static_cast<uint8_t>(text[i]) : AsciiReplacement;
    return bytes;
}

std::u16string AsciiBytesToText(const uint8_t* bytes, size_t count) {
    std::u16string text(count, u'\0');
    for (size_t i = 0; i < count; ++i)
        text[i] = bytes[i] < 0x80 ? bytes[i] : AsciiReplacement;
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

#include "toolz/Toolz.h"

// Placeholder until the credential scrambling lands: texts pass unchanged.
TByteString TextToByteString(std::u16string_view text) {
    TByteString out;
    for (char16_t c : text)
        out.push_back(static_cast<char>(c & 0xFF));
    return out;
}
std::u16string ByteStringToText(const TByteString& bytes) {
    std::u16string out;
    for (char c : bytes)
        out.push_back(static_cast<unsigned char>(c));
    return out;
}
TByteString ScrambleBytes(const TByteString& bytes, std::u16string_view, bool) { return bytes; }
TByteString UnscrambleBytes(const TByteString& scrambled, std::u16string_view, bool) { return scrambled; }
std::u16string ScrambleCredential(std::u16string_view text) { return std::u16string(text); }
std::u16string UnscrambleCredential(std::u16string_view storedText) { return std::u16string(storedText); }

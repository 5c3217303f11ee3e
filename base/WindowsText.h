#pragma once
// Texts at the Windows API: its wide characters are UTF-16 code units, as our texts are.

#include <cstdint>
#include <string>
#include <string_view>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 code units");

inline const wchar_t* WideChars(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline std::u16string TextFromWide(const wchar_t* wide) {
    return wide ? std::u16string(reinterpret_cast<const char16_t*>(wide)) : std::u16string();
}

inline std::u16string TextFromWide(const wchar_t* wide, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(wide), length);
}

// The system's text for an error code (GetLastError, WSAGetLastError), without the line end;
// empty when the system has none.
std::u16string SystemErrorText(uint32_t code);

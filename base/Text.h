#pragma once
// Text helpers every layer uses: UTF-16 <-> UTF-8, ASCII literals, ASCII letter case.

#include <optional>
#include <string>
#include <string_view>

// UTF-16 <-> UTF-8. Invalid input becomes U+FFFD; never throws.
std::u16string Utf8ToText(std::string_view utf8);
std::string TextToUtf8(std::u16string_view text);

// Whether the bytes are well-formed UTF-8 (Utf8ToText replaces nothing).
bool IsWellFormedUtf8(std::string_view bytes);

// Windows-1252 <-> text, byte for byte: its five unassigned bytes (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) stand for the C1 codes of the same number. Nothing when a character has no byte.
std::u16string Windows1252ToText(std::string_view bytes);
std::optional<std::string> TextToWindows1252(std::u16string_view text);

// Plain ASCII/Latin-1 literal to text, for messages written in the source as char strings.
std::u16string AsciiToText(std::string_view ascii);

// ASCII-only upper/lower case of a text (other characters unchanged).
std::u16string AsciiUpperCase(std::u16string_view text);
std::u16string AsciiLowerCase(std::u16string_view text);
std::string AsciiLowerCase(std::string_view bytes);
bool SameTextAscii(std::u16string_view a, std::u16string_view b);

// Removes characters with codes 0..32 at both ends.
std::u16string TrimControlAndBlanks(std::u16string_view text);

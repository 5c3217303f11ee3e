#pragma once
// Text helpers every layer uses: UTF-16 <-> UTF-8, ASCII literals, ASCII letter case.

#include <string>
#include <string_view>

// UTF-16 <-> UTF-8. Invalid input becomes U+FFFD; never throws.
std::u16string Utf8ToText(std::string_view utf8);
std::string TextToUtf8(std::u16string_view text);

// Plain ASCII/Latin-1 literal to text, for messages written in the source as char strings.
std::u16string AsciiToText(std::string_view ascii);

// ASCII-only upper/lower case of a text (other characters unchanged).
std::u16string AsciiUpperCase(std::u16string_view text);
std::u16string AsciiLowerCase(std::u16string_view text);
bool SameTextAscii(std::u16string_view a, std::u16string_view b);

// Removes characters with codes 0..32 at both ends.
std::u16string TrimControlAndBlanks(std::u16string_view text);

#pragma once
// Bytes in a named character set to text, through the platform's own converter (iconv, or the
// system's code pages on Windows), for the charsets the header decoder does not know itself.

#include <optional>
#include <string>
#include <string_view>

// Nothing when the platform does not know the charset or the bytes are not valid in it.
std::optional<std::u16string> PlatformCharsetToText(std::string_view charset, std::string_view bytes);

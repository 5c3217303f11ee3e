#pragma once
// Base64 (RFC 4648) for the bytes of SASL exchanges, encoded header words and sign-in values.

#include <optional>
#include <string>
#include <string_view>

// The standard alphabet with "=" padding.
std::string Base64Encode(std::string_view bytes);
// The URL-safe alphabet ("-" and "_") without padding.
std::string Base64UrlEncode(std::string_view bytes);
// Decodes the standard alphabet; padding may be left out. Nothing when the text holds any other
// character (line breaks and blanks included), padding in the middle, or a stray last character.
std::optional<std::string> Base64Decode(std::string_view text);

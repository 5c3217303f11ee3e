#pragma once
// Integer <-> text conversions shared by the settings file, the message count and addresses.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Decimal text of a signed integer.
std::u16string IntToText(int64_t value);

// The value of a hexadecimal digit in either letter case; -1 for any other character.
int HexDigitValue(char16_t c);

// The run-time library's integer conversion of a whole text: an optional sign, then decimal
// digits within the signed 32-bit range, or hexadecimal digits after "$", "x" or "0x" in either
// letter case (any 32-bit pattern, so "$FFFFFFFF" is -1; a "-" negates). Nothing for anything else.
std::optional<int32_t> TryTextToInt(std::u16string_view text);

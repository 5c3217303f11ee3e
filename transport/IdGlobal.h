#pragma once
// Types, constants and text helpers shared by the whole network code (and used by the
// application where it needs the same conversions).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using TIdBytes = std::vector<uint8_t>;

// Time-out values in milliseconds: 0 means do not wait.
constexpr int32_t DEFAULT_WAIT = -1;  // use the configured default
constexpr int32_t INFINITE_WAIT = -2; // wait without limit

enum TIdIPVersion : uint8_t { Id_IPv4 = 0, Id_IPv6 = 1 };

// Text encoding chosen per call; weNone stands for the I/O handler's default.
enum WireEncoding : uint8_t { weNone = 0, weAscii = 1, weUtf8 = 2, weRaw8 = 3 };

// UTF-16 <-> UTF-8. Invalid input becomes U+FFFD; never throws.
std::u16string Utf8ToText(std::string_view utf8);
std::string TextToUtf8(std::u16string_view text);

// Plain ASCII/Latin-1 literal to text, for messages written in the source as char strings.
std::u16string AsciiToText(std::string_view ascii);

// Decimal text of a signed integer.
std::u16string IntToText(int64_t value);

// ASCII-only upper/lower case of a text (other characters unchanged).
std::u16string AsciiUpperCase(std::u16string_view text);
std::u16string AsciiLowerCase(std::u16string_view text);
bool SameTextAscii(std::u16string_view a, std::u16string_view b);

// Removes characters with codes 0..32 at both ends.
std::u16string TrimControlAndBlanks(std::u16string_view text);

// Wire encoding of texts (US-ASCII, UTF-8 or one byte per character). weNone raises
// EIdNoEncodingSpecified: callers replace it by their default before converting.
TIdBytes TextToBytes(std::u16string_view text, WireEncoding encoding);
std::u16string BytesToText(const uint8_t* bytes, size_t count, WireEncoding encoding);

// A monotonic millisecond counter cut to 32 bits, and the distance between two of its values
// that survives one wrap of the counter.
uint32_t MillisecondTicks();
uint32_t TicksBetween(uint32_t oldTicks, uint32_t newTicks);

// The run-time library's integer conversion of a whole text: an optional sign, then decimal
// digits within the signed 32-bit range, or hexadecimal digits after "$", "x" or "0x" in either
// letter case (any 32-bit pattern, so "$FFFFFFFF" is -1; a "-" negates). Nothing for anything else.
std::optional<int32_t> TryTextToInt(std::u16string_view text);

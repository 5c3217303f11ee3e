#pragma once
// Bytes on the wire and the per-call text encoding of the I/O handler.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using TIdBytes = std::vector<uint8_t>;

// Text encoding chosen per call; weNone stands for the I/O handler's default.
enum WireEncoding : uint8_t { weNone = 0, weAscii = 1, weUtf8 = 2, weRaw8 = 3 };

// Wire encoding of texts (US-ASCII, UTF-8 or one byte per character). weNone raises
// EIdNoEncodingSpecified: callers replace it by their default before converting.
TIdBytes TextToBytes(std::u16string_view text, WireEncoding encoding);
std::u16string BytesToText(const uint8_t* bytes, size_t count, WireEncoding encoding);

#include "base/Base64.h"

#include <cstdint>

namespace {

constexpr std::string_view StandardAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view UrlAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string Encode(std::string_view bytes, std::string_view alphabet, bool pad) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k)
            group = group << 8 | (k < n ? static_cast<uint8_t>(bytes[i + k]) : 0);
        for (size_t k = 0; k < 4; ++k) {
            if (k <= n)
                out += alphabet[group >> (18 - 6 * k) & 0x3F];
            else if (pad)
                out += '=';
        }
    }
    return out;
}

int SextetOf(char c) {
    const size_t at = StandardAlphabet.find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

} // namespace

std::string Base64Encode(std::string_view bytes) {
    return Encode(bytes, StandardAlphabet, true);
}

std::string Base64UrlEncode(std::string_view bytes) {
    return Encode(bytes, UrlAlphabet, false);
}

std::optional<std::string> Base64Decode(std::string_view text) {
    while (!text.empty() && text.back() == '=' && text.size() % 4 != 1)
        text.remove_suffix(1);
    if (text.size() % 4 == 1)
        return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3 + 2);
    uint32_t bits = 0;
    int bitCount = 0;
    for (char c : text) {
        const int sextet = SextetOf(c);
        if (sextet < 0)
            return std::nullopt;
        bits = bits << 6 | static_cast<uint32_t>(sextet);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            out += static_cast<char>(bits >> bitCount & 0xFF);
        }
    }
    return out;
}

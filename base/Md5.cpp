#include "base/Md5.h"

#include <algorithm>
#include <cstring>

#include "base/Text.h"

namespace {

// Per-step left rotations of the four rounds.
constexpr std::array<uint32_t, 64> kShifts{7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                           5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                           4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                           6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

// The sine table: floor(abs(sin(i + 1)) * 2^32).
constexpr std::array<uint32_t, 64> kSines{
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

uint32_t RotateLeft(uint32_t value, uint32_t count) {
    return (value << count) | (value >> (32 - count));
}

uint32_t LoadLittleEndian(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

} // namespace

void Md5Digest::Reset() {
    state_ = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    totalBytes_ = 0;
}

void Md5Digest::Update(std::string_view bytes) {
    Update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void Md5Digest::Update(const uint8_t* data, size_t size) {
    size_t used = totalBytes_ % 64;
    totalBytes_ += size;
    if (used > 0) {
        const size_t take = std::min(size, 64 - used);
        std::memcpy(pending_.data() + used, data, take);
        data += take, size -= take, used += take;
        if (used < 64)
            return;
        TransformBlock(pending_.data());
    }
    for (; size >= 64; data += 64, size -= 64)
        TransformBlock(data);
    std::memcpy(pending_.data(), data, size);
}

Md5Digest::Digest Md5Digest::Final() {
    const uint64_t bitCount = totalBytes_ * 8;
    // Padding: one 1 bit, zeros up to 56 bytes mod 64, then the bit count, little-endian.
    const uint8_t one = 0x80;
    Update(&one, 1);
    const uint8_t zero = 0;
    while (totalBytes_ % 64 != 56)
        Update(&zero, 1);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = static_cast<uint8_t>(bitCount >> (8 * i));
    Update(length, 8);

    Digest digest;
    for (size_t i = 0; i < 4; ++i)
        for (size_t b = 0; b < 4; ++b)
            digest[4 * i + b] = static_cast<uint8_t>(state_[i] >> (8 * b));
    Reset();
    return digest;
}

void Md5Digest::TransformBlock(const uint8_t* block) {
    uint32_t words[16];
    for (size_t i = 0; i < 16; ++i)
        words[i] = LoadLittleEndian(block + 4 * i);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (uint32_t step = 0; step < 64; ++step) {
        uint32_t mix = 0;
        uint32_t word = 0;
        switch (step / 16) {
        case 0:
            mix = (b & c) | (~b & d), word = step;
            break;
        case 1:
            mix = (d & b) | (~d & c), word = (5 * step + 1) % 16;
            break;
        case 2:
            mix = b ^ c ^ d, word = (3 * step + 5) % 16;
            break;
        default:
            mix = c ^ (b | ~d), word = (7 * step) % 16;
            break;
        }
        const uint32_t rotated = RotateLeft(a + mix + kSines[step] + words[word], kShifts[step]);
        a = d, d = c, c = b, b = b + rotated;
    }
    state_[0] += a, state_[1] += b, state_[2] += c, state_[3] += d;
}

Md5Digest::Digest Md5Digest::HashBytes(std::string_view bytes) {
    Md5Digest hash;
    hash.Update(bytes);
    return hash.Final();
}

std::u16string Md5Digest::HashBytesAsHex(std::string_view bytes) {
    static constexpr char16_t kHexDigits[] = u"0123456789abcdef";
    std::u16string hex;
    for (uint8_t byte : HashBytes(bytes)) {
        hex.push_back(kHexDigits[byte >> 4]);
        hex.push_back(kHexDigits[byte & 0x0F]);
    }
    return hex;
}

std::u16string ApopDigest(std::u16string_view timestamp, std::u16string_view password) {
    return Md5Digest::HashBytesAsHex(TextToUtf8(timestamp) + TextToUtf8(password));
}

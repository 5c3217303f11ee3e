#pragma once
// MD5 message digest (RFC 1321), used for the APOP sign-in.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class Md5Digest {
public:
    using Digest = std::array<uint8_t, 16>;

    Md5Digest() { Reset(); }

    // Starts a new digest, dropping whatever was fed so far.
    void Reset();
    // Feeds more bytes into the running digest.
    void Update(const uint8_t* data, size_t size);
    void Update(std::string_view bytes);
    // Finishes the digest and starts a new one.
    Digest Final();

    // The digest of `bytes` in one call.
    static Digest HashBytes(std::string_view bytes);
    // The digest of `bytes` as 32 lower-case hexadecimal digits.
    static std::u16string HashBytesAsHex(std::string_view bytes);

private:
    void TransformBlock(const uint8_t* block);

    std::array<uint32_t, 4> state_{};
    std::array<uint8_t, 64> pending_{};
    uint64_t totalBytes_ = 0;
};

// The APOP proof: lower-case hexadecimal MD5 of the greeting's time stamp (with its angle
// brackets) followed by the password, both taken as UTF-8.
std::u16string ApopDigest(std::u16string_view timestamp, std::u16string_view password);

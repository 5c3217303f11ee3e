// The random source and SHA-256 of the proof key, from the system's cryptography (CNG).
#include <windows.h>

#include <bcrypt.h>

#include "base/Exceptions.h"
#include "signin/Pkce.h"

std::string SystemRandomBytes(size_t count) {
    std::string bytes(count, '\0');
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<UCHAR*>(bytes.data()),
                                        static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        throw EIdException(std::string_view("The system's random source failed."));
    return bytes;
}

std::string Sha256Digest(std::string_view bytes) {
    constexpr ULONG Length = 32;
    std::string digest(Length, '\0');
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    const bool hashed =
        BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
        BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
        BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<UCHAR*>(const_cast<char*>(bytes.data())),
                                      static_cast<ULONG>(bytes.size()), 0)) &&
        BCRYPT_SUCCESS(BCryptFinishHash(hash, reinterpret_cast<UCHAR*>(digest.data()), Length, 0));
    if (hash)
        BCryptDestroyHash(hash);
    if (algorithm)
        BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!hashed)
        throw EIdException(std::string_view("SHA-256 failed."));
    return digest;
}

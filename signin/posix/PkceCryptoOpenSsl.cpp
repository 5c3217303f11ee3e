// The random source and SHA-256 of the proof key, from OpenSSL (seeded by the system's getrandom).
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "base/Exceptions.h"
#include "signin/Pkce.h"

std::string SystemRandomBytes(size_t count) {
    std::string bytes(count, '\0');
    if (RAND_priv_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(count)) != 1)
        throw EIdException(std::string_view("The system's random source failed."));
    return bytes;
}

std::string Sha256Digest(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        throw EIdException(std::string_view("SHA-256 failed."));
    return std::string(reinterpret_cast<const char*>(digest), length);
}

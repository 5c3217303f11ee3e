#pragma once
// The proof key of one sign-in (RFC 7636, S256): a verifier and a state from the system's random
// source, and the challenge the authorize request carries.

#include <cstddef>
#include <string>
#include <string_view>

struct PkcePair {
    std::string Verifier;  // 43 characters of base64url: 256 random bits
    std::string Challenge; // base64url of the verifier's SHA-256, without padding
    std::string State;     // 22 characters of base64url: 128 random bits
};

PkcePair NewPkcePair();

// Platform parts (OpenSSL on Linux). Both raise EIdException when the system cannot give them.
std::string SystemRandomBytes(size_t count);
std::string Sha256Digest(std::string_view bytes);

#include "signin/Pkce.h"

#include "base/Base64.h"

PkcePair NewPkcePair() {
    PkcePair pair;
    pair.Verifier = Base64UrlEncode(SystemRandomBytes(32));
    pair.Challenge = Base64UrlEncode(Sha256Digest(pair.Verifier));
    pair.State = Base64UrlEncode(SystemRandomBytes(16));
    return pair;
}

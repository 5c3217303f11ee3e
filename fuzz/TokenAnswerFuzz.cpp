// The token endpoint's answer, any status with any body: it gives a token fit for use (a 200, a
// bearer access token, no control characters in either token, a lifetime the clock can take)
// or raises one of the sign-in's two errors. Any bytes, form-encoded, parse back as they were.

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/FuzzChecks.h"
#include "signin/OAuthRequests.h"
#include "signin/SignInErrors.h"

namespace {

bool HasControlByte(std::string_view text) {
    return text.find_first_of(std::string_view("\0\x01\x02\x03\x04\x05\x06\x07\x08\t\n\x0b\x0c\r\x0e\x0f\x10"
                                               "\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f",
                                               32)) != std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    constexpr long statuses[] = {200, 400, 401, 500, 302, 0};
    const long status = statuses[input.ConsumeIntegralInRange(0, 5)];
    const std::string body = input.ConsumeRemainingBytesAsString();
    try {
        const TokenAnswer answer = ReadTokenAnswer(status, body);
        RequireBearerToken(answer);
        FUZZ_CHECK(status == 200, "a token from HTTP " + std::to_string(status));
        FUZZ_CHECK(!answer.AccessToken.empty() && !HasControlByte(answer.AccessToken) &&
                       !HasControlByte(answer.RefreshToken),
                   Quoted(answer.AccessToken) + " " + Quoted(answer.RefreshToken));
        FUZZ_CHECK(answer.ExpiresIn >= 0 && answer.ExpiresIn <= MaxTokenLifetimeSeconds,
                   "expires in " + std::to_string(answer.ExpiresIn) + " s");
    } catch (const ETokenRefused&) {
    } catch (const ETokenEndpointError&) {
    }
    // The form encoding and the query parsing the sign-in pairs undo each other.
    FUZZ_CHECK(ParseQuery("a=" + FormEncode(body) + "&b=1")["a"] == body, Quoted(body));
    return 0;
}

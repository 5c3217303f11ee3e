#pragma once
// The exceptions of the OAuth 2.0 sign-in: the token endpoint, the redirect and the token store.

#include <string>

#include "base/Exceptions.h"

// The token endpoint could not be reached, did not answer in time, or answered too much or
// something that is no token answer.
BG_DECLARE_EXCEPTION(ETokenEndpointError, EIdException);
// The token endpoint refused the grant (its `error` code, such as "invalid_grant", is kept).
class ETokenRefused : public EIdException {
public:
    ETokenRefused(std::string errorCode, std::u16string message)
        : EIdException(std::move(message)), errorCode_(std::move(errorCode)) {}
    const std::string& ErrorCode() const noexcept { return errorCode_; }

private:
    std::string errorCode_;
};
// No usable refresh token: the user has to sign in in the browser again.
BG_DECLARE_EXCEPTION(ESignInNeeded, EIdException);
// The authorization server sent the user back with an `error=` redirect.
BG_DECLARE_EXCEPTION(EAuthorizationDenied, EIdException);
// The secret store could not keep or give back the refresh token.
BG_DECLARE_EXCEPTION(ESecretStoreError, EIdException);
// OAuth sign-in was chosen for a check that would not run over TLS: the token is never sent.
BG_DECLARE_EXCEPTION(ESignInNeedsTls, EIdException);

#pragma once
// The tokens of one mailbox: the access token and its expiry in memory only, the refresh token in
// the secret store (a rotated one replaces the stored one before anything else happens). After the
// provider refused the refresh token ("invalid_grant"), or the mail server refused a fresh access
// token, the store is in the "sign in again" state: it makes no token request until the user signs
// in, so nothing asks the provider every minute in vain.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "signin/HttpsPost.h"
#include "signin/OAuthRequests.h"
#include "signin/SecretStore.h"

// The secret store's entry of a mailbox: "Brevgluggen:<user>@<server>".
std::u16string TokenEntryName(std::u16string_view server, std::u16string_view user);

using TokenPoster = std::function<HttpsReply(const std::string& url, const std::string& body)>;

class TokenStore {
public:
    static constexpr int32_t RequestTimeoutMs = 10000;
    static constexpr size_t MaxAnswerBytes = 64 * 1024;
    static constexpr std::chrono::seconds RefreshMargin{60};

    // poster: nothing for HttpsPostForm with the limits above.
    TokenStore(OAuthClient client, std::unique_ptr<SecretStore> secrets, std::u16string entry,
               TokenPoster poster = nullptr);

    const OAuthClient& Client() const { return client_; }
    // Where the refresh token is kept, for the window.
    std::u16string Where() const { return secrets_->Where(); }
    bool SignInNeeded() const { return signInNeeded_; }
    // A refresh token is stored (or held after a store that failed).
    bool HasRefreshToken();

    // The access token for a check: refreshed first when none is held or it expires within
    // RefreshMargin. Raises ESignInNeeded (no refresh token, or the "sign in again" state, in which
    // case nothing is sent), ETokenRefused or ETokenEndpointError (the endpoint's fault, tried again
    // next time), ESecretStoreError.
    std::string AccessToken();
    // The mail server refused the access token: forgets it. With retry the next AccessToken
    // refreshes; without, the store enters the "sign in again" state.
    void Rejected(bool retry);
    // Exchanges the code of a finished sign-in (POST grant_type=authorization_code) and stores the
    // new tokens; leaves the "sign in again" state. Raises ETokenRefused, ETokenEndpointError,
    // ESecretStoreError.
    void ExchangeCode(const std::string& code, const std::string& redirectUri, const std::string& verifier);
    // Forgets every token and erases the stored one. Raises ESecretStoreError.
    void SignOut();

private:
    void Refresh();
    void Keep(const TokenAnswer& answer);
    TokenAnswer Post(const std::string& body);

    OAuthClient client_;
    std::unique_ptr<SecretStore> secrets_;
    std::u16string entry_;
    TokenPoster poster_;
    std::optional<std::string> refreshToken_; // as last read or written
    std::string accessToken_;
    std::chrono::steady_clock::time_point expiry_{};
    bool signInNeeded_ = false;
};

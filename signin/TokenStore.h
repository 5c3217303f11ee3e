#pragma once
// The tokens of one mailbox: the access token and its expiry in memory only, the refresh token in
// the secret store (a rotated one replaces the stored one before anything else happens). The
// stored refresh token is kept together with the token address, client ID and scope it was issued
// for, and is only ever sent to that address for that client and scope. After the provider refused
// the refresh token in a way only the user can mend, the mail server refused a fresh access token,
// or the stored token was issued for something else, the store is in the "sign in again" state: it
// makes no token request until the user signs in, so nothing asks the provider every minute in vain.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "signin/HttpsPost.h"
#include "signin/OAuthRequests.h"
#include "signin/SecretStore.h"

// The secret store's entry of a mailbox: "Brevgluggen:<user>@<server>".
std::u16string TokenEntryName(std::u16string_view server, std::u16string_view user);

// What the secret store keeps of a mailbox: the refresh token together with the token address,
// client ID and scope it was issued for, as a JSON object.
std::string StoredTokenRecord(const OAuthClient& client, const std::string& refreshToken);

// Why the store is in the "sign in again" state.
enum class SignInCause : uint8_t {
    None,
    NoToken,     // no refresh token is stored
    OtherScope,  // the stored one was issued for another scope
    OtherIssuer, // ... for another token address or client ID
    Unbound,     // ... by an older version that did not keep what it was issued for
    Refused,     // the provider refused it (Refusal() has its code and description)
    Rejected,    // the mail server refused a fresh access token
};

// Whether the token endpoint's refusal code is one only a new sign-in can mend ("invalid_grant",
// "interaction_required", ...). Other refusals are asked again at the next check.
bool RefusalNeedsSignIn(std::string_view errorCode);

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
    bool SignInNeeded() const { return cause_ != SignInCause::None; }
    SignInCause Cause() const { return cause_; }
    // The provider's refusal ("interaction_required: <its description's first line>") when the
    // cause is Refused.
    const std::u16string& Refusal() const { return refusal_; }
    // A refresh token for this client is stored (or held after a store that failed). One stored
    // for another token address, client ID or scope, or without saying, counts as none and puts
    // the store in the "sign in again" state. Raises ESecretStoreError.
    bool HasRefreshToken();

    // The access token for a check: refreshed first when none is held or it expires within
    // RefreshMargin (POST grant_type=refresh_token). Raises ESignInNeeded (no usable refresh token,
    // or the "sign in again" state, in which case nothing is sent), ETokenRefused or
    // ETokenEndpointError (tried again next time unless the refusal needs a sign-in),
    // ESecretStoreError.
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
    void NeedSignIn(SignInCause cause);

    OAuthClient client_;
    std::unique_ptr<SecretStore> secrets_;
    std::u16string entry_;
    TokenPoster poster_;
    std::optional<std::string> refreshToken_; // as last read or written
    std::string accessToken_;
    std::chrono::steady_clock::time_point expiry_{};
    SignInCause cause_ = SignInCause::None;
    std::u16string refusal_;
};

#include "signin/TokenStore.h"

std::u16string TokenEntryName(std::u16string_view server, std::u16string_view user) {
    return u"Brevgluggen:" + std::u16string(user) + u"@" + std::u16string(server);
}

TokenStore::TokenStore(OAuthClient client, std::unique_ptr<SecretStore> secrets, std::u16string entry,
                       TokenPoster poster)
    : client_(std::move(client)), secrets_(std::move(secrets)), entry_(std::move(entry)),
      poster_(std::move(poster)) {
    if (!poster_)
        poster_ = [](const std::string& url, const std::string& body) {
            return HttpsPostForm(url, body, RequestTimeoutMs, MaxAnswerBytes);
        };
}

bool TokenStore::HasRefreshToken() {
    if (!refreshToken_)
        refreshToken_ = secrets_->Read(entry_);
    return refreshToken_.has_value();
}

std::string TokenStore::AccessToken() {
    if (signInNeeded_)
        throw ESignInNeeded(std::string_view("Sign in again."));
    if (accessToken_.empty() || std::chrono::steady_clock::now() + RefreshMargin >= expiry_)
        Refresh();
    return accessToken_;
}

void TokenStore::Rejected(bool retry) {
    accessToken_.clear();
    if (!retry)
        signInNeeded_ = true;
}

void TokenStore::ExchangeCode(const std::string& code, const std::string& redirectUri,
                              const std::string& verifier) {
    Keep(Post(CodeGrantBody(client_, code, redirectUri, verifier)));
    signInNeeded_ = false;
}

void TokenStore::SignOut() {
    accessToken_.clear();
    refreshToken_.reset();
    signInNeeded_ = false;
    secrets_->Erase(entry_);
}

void TokenStore::Refresh() {
    accessToken_.clear();
    if (!HasRefreshToken()) {
        signInNeeded_ = true;
        throw ESignInNeeded(std::string_view("Sign in again."));
    }
    try {
        Keep(Post(RefreshGrantBody(client_, *refreshToken_)));
    } catch (const ETokenRefused& refused) {
        // The grant is gone (expired, revoked, or the token was used twice): asking again with
        // the same token cannot succeed.
        if (refused.ErrorCode() == "invalid_grant")
            signInNeeded_ = true;
        throw;
    }
}

// A rotated refresh token has consumed the old one at the provider: it is stored before the
// access token is handed out, and held in memory too should the store fail.
void TokenStore::Keep(const TokenAnswer& answer) {
    accessToken_ = answer.AccessToken;
    expiry_ = std::chrono::steady_clock::now() + std::chrono::seconds(answer.ExpiresIn);
    if (!answer.RefreshToken.empty() && answer.RefreshToken != refreshToken_) {
        refreshToken_ = answer.RefreshToken;
        secrets_->Write(entry_, answer.RefreshToken);
    }
}

TokenAnswer TokenStore::Post(const std::string& body) {
    const HttpsReply reply = poster_(client_.Provider.TokenUrl, body);
    return ReadTokenAnswer(reply.Status, reply.Body);
}

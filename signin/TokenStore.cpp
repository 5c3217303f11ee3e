#include "signin/TokenStore.h"

#include <nlohmann/json.hpp>

#include "base/Text.h"

namespace {

// The refresh token of a stored record, or why it may not be used for this client. What older
// versions kept (the bare token) says nothing of where it may go, so it is not used either.
SignInCause ReadBoundRecord(const std::string& stored, const OAuthClient& client, std::string& refreshToken) {
    const nlohmann::json record = nlohmann::json::parse(stored, nullptr, false);
    const auto field = [&](const char* name) -> const std::string* {
        if (!record.is_object())
            return nullptr;
        const auto found = record.find(name);
        return found != record.end() && found->is_string() ? found->get_ptr<const std::string*>() : nullptr;
    };
    const std::string *token = field("refresh_token"), *url = field("token_url"), *id = field("client_id"),
                      *scope = field("scope");
    if (!token || token->empty() || !url || !id || !scope)
        return SignInCause::Unbound;
    if (*url != client.Provider.TokenUrl || *id != client.ClientId)
        return SignInCause::OtherIssuer;
    if (*scope != client.Provider.Scope)
        return SignInCause::OtherScope;
    refreshToken = *token;
    return SignInCause::None;
}

// Providers' descriptions run on with trace and correlation lines: the first line says it.
std::u16string RefusalLine(const ETokenRefused& refused) {
    const std::u16string& text = refused.Message();
    return text.substr(0, text.find_first_of(u"\r\n"));
}

} // namespace

std::u16string TokenEntryName(std::u16string_view server, std::u16string_view user) {
    return u"Brevgluggen:" + std::u16string(user) + u"@" + std::u16string(server);
}

std::string StoredTokenRecord(const OAuthClient& client, const std::string& refreshToken) {
    const nlohmann::json record = {{"refresh_token", refreshToken},
                                   {"token_url", client.Provider.TokenUrl},
                                   {"client_id", client.ClientId},
                                   {"scope", client.Provider.Scope}};
    return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool RefusalNeedsSignIn(std::string_view errorCode) {
    for (std::string_view code : {"invalid_grant", "interaction_required", "consent_required",
                                  "login_required", "invalid_client", "unauthorized_client", "invalid_scope"})
        if (errorCode == code)
            return true;
    return false;
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
    if (refreshToken_)
        return true;
    const std::optional<std::string> stored = secrets_->Read(entry_);
    if (!stored)
        return false;
    std::string token;
    const SignInCause cause = ReadBoundRecord(*stored, client_, token);
    if (cause != SignInCause::None) {
        NeedSignIn(cause);
        return false;
    }
    refreshToken_ = token;
    return true;
}

std::string TokenStore::AccessToken() {
    if (SignInNeeded())
        throw ESignInNeeded(std::string_view("Sign in again."));
    if (accessToken_.empty() || std::chrono::steady_clock::now() + RefreshMargin >= expiry_)
        Refresh();
    return accessToken_;
}

void TokenStore::Rejected(bool retry) {
    accessToken_.clear();
    if (!retry)
        NeedSignIn(SignInCause::Rejected);
}

void TokenStore::ExchangeCode(const std::string& code, const std::string& redirectUri,
                              const std::string& verifier) {
    // A token held for what the store was before belongs to that sign-in.
    refreshToken_.reset();
    accessToken_.clear();
    Keep(Post(CodeGrantBody(client_, code, redirectUri, verifier)));
    cause_ = SignInCause::None;
    refusal_.clear();
}

void TokenStore::SignOut() {
    accessToken_.clear();
    refreshToken_.reset();
    cause_ = SignInCause::None;
    refusal_.clear();
    secrets_->Erase(entry_);
}

void TokenStore::Refresh() {
    accessToken_.clear();
    if (!HasRefreshToken()) {
        if (!SignInNeeded())
            NeedSignIn(SignInCause::NoToken);
        throw ESignInNeeded(std::string_view("Sign in again."));
    }
    try {
        Keep(Post(RefreshGrantBody(client_, *refreshToken_)));
    } catch (const ETokenRefused& refused) {
        // The grant is gone, or the provider wants the user (MFA, consent, a changed client or
        // scope): asking again with the same token cannot succeed.
        if (RefusalNeedsSignIn(refused.ErrorCode())) {
            NeedSignIn(SignInCause::Refused);
            refusal_ = RefusalLine(refused);
        }
        throw;
    }
}

// A rotated refresh token has consumed the old one at the provider: it is stored before the
// access token is looked at, and held in memory too should the store fail.
void TokenStore::Keep(const TokenAnswer& answer) {
    if (!answer.RefreshToken.empty() && answer.RefreshToken != refreshToken_) {
        refreshToken_ = answer.RefreshToken;
        secrets_->Write(entry_, StoredTokenRecord(client_, answer.RefreshToken));
    }
    RequireBearerToken(answer);
    accessToken_ = answer.AccessToken;
    expiry_ = std::chrono::steady_clock::now() + std::chrono::seconds(answer.ExpiresIn);
}

TokenAnswer TokenStore::Post(const std::string& body) {
    const HttpsReply reply = poster_(client_.Provider.TokenUrl, body);
    return ReadTokenAnswer(reply.Status, reply.Body);
}

void TokenStore::NeedSignIn(SignInCause cause) {
    accessToken_.clear();
    cause_ = cause;
    refusal_.clear();
}

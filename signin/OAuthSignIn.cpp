#include "signin/OAuthSignIn.h"

#include "base/Text.h"
#include "signin/Pkce.h"

OAuthSignIn::OAuthSignIn(OAuthClient client, Opener opener)
    : client_(std::move(client)), opener_(std::move(opener)) {}

OAuthSignIn::~OAuthSignIn() = default;

void OAuthSignIn::Start(const std::string& loginHint, RedirectPages pages) {
    Cancel();
    RequireHttpsAddress(client_.Provider.AuthorizeUrl);
    const PkcePair pair = NewPkcePair();
    listener_ = std::make_unique<RedirectListener>(pair.State, std::move(pages));
    verifier_ = pair.Verifier;
    deadline_ = std::chrono::steady_clock::now() + WaitLimit;
    state_ = State::Waiting;
    errorCode_.clear();
    reason_.clear();
    if (!opener_(AuthorizeUrl(client_, listener_->RedirectUri(), pair.State, pair.Challenge, loginHint)))
        Fail("no-browser", u"no browser could be started");
}

OAuthSignIn::State OAuthSignIn::Poll() {
    if (state_ != State::Waiting)
        return state_;
    try {
        const auto outcome = listener_->Poll();
        if (!outcome) {
            if (std::chrono::steady_clock::now() >= deadline_)
                Fail("timeout", u"no answer from the browser");
            return state_;
        }
        if (!outcome->Error.empty()) {
            Fail(outcome->Error, Utf8ToText(outcome->ErrorDescription.empty()
                                                ? outcome->Error
                                                : outcome->Error + ": " + outcome->ErrorDescription));
            return state_;
        }
        grant_ = {outcome->Code, listener_->RedirectUri(), verifier_};
        state_ = State::Exchanging;
    } catch (const Exception& failure) {
        Fail("exchange", failure.Message());
    }
    listener_.reset();
    verifier_.clear();
    return state_;
}

void OAuthSignIn::Exchanged(std::optional<std::u16string> failure) {
    if (state_ != State::Exchanging)
        return;
    grant_ = {};
    if (failure)
        Fail("exchange", std::move(*failure));
    else
        state_ = State::SignedIn;
}

void OAuthSignIn::Cancel() {
    listener_.reset();
    verifier_.clear();
    grant_ = {};
    if (state_ == State::Waiting || state_ == State::Exchanging)
        state_ = State::Idle;
}

void OAuthSignIn::Fail(std::string code, std::u16string reason) {
    listener_.reset();
    verifier_.clear();
    errorCode_ = std::move(code);
    reason_ = std::move(reason);
    state_ = State::Failed;
}

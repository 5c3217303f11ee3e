#pragma once
// One sign-in in the user's browser (authorization code grant with PKCE S256, for a native app):
// Start opens the authorize address through the given opener and listens for the redirect on
// 127.0.0.1; Poll, called from the event loop, serves the listener until the redirect brings the
// code. Its exchange for tokens is the caller's (an HTTPS request, made off the user-interface
// thread), which reports the outcome with Exchanged. Nothing here waits: the user interface goes
// on while the user signs in. The wait ends after WaitLimit, on Cancel, or on a new Start.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "signin/RedirectListener.h"
#include "signin/TokenStore.h"

class OAuthSignIn {
public:
    enum class State { Idle, Waiting, Exchanging, SignedIn, Failed };
    static constexpr std::chrono::minutes WaitLimit{5};

    // Hands the address to a browser; false when none could be started.
    using Opener = std::function<bool(const std::string& url)>;
    OAuthSignIn(OAuthClient client, Opener opener);
    ~OAuthSignIn();

    // A new proof key, state and listener, then the authorize address with login_hint is opened.
    // A sign-in still waiting is given up first. When the opener starts no browser the sign-in has
    // Failed at once ("no browser could be started"). Raises what RedirectListener raises and
    // EIdException when the random source fails; the opener's failures pass through.
    void Start(const std::string& loginHint, RedirectPages pages);
    // Serves the listener while Waiting: Exchanging once the redirect brought the code (Grant
    // gives it); Failed on an error redirect or after WaitLimit (Reason says why). Raises nothing.
    State Poll();
    // What the code is exchanged with (TokenStore::ExchangeCode), while Exchanging.
    struct CodeGrant {
        std::string Code;
        std::string RedirectUri;
        std::string Verifier;
    };
    const CodeGrant& Grant() const { return grant_; }
    // The exchange ended: SignedIn, or Failed for the failure's reason.
    void Exchanged(std::optional<std::u16string> failure);
    void Cancel();
    State Current() const { return state_; }
    // Why a sign-in Failed, in English (the provider's error and description, or the exchange's
    // failure); the window puts its own words before it.
    const std::u16string& Reason() const { return reason_; }
    // The redirect's error code ("access_denied", ...), "timeout", "no-browser" or "exchange";
    // empty otherwise.
    const std::string& ErrorCode() const { return errorCode_; }

private:
    void Fail(std::string code, std::u16string reason);

    OAuthClient client_;
    Opener opener_;
    std::unique_ptr<RedirectListener> listener_;
    std::string verifier_;
    CodeGrant grant_;
    std::chrono::steady_clock::time_point deadline_{};
    State state_ = State::Idle;
    std::u16string reason_;
    std::string errorCode_;
};

#pragma once
// One sign-in in the user's browser (authorization code grant with PKCE S256, for a native app):
// Start opens the authorize address through the given opener and listens for the redirect on
// 127.0.0.1; Poll, called from the event loop, serves the listener and, once the redirect came,
// exchanges the code for tokens in the TokenStore. Nothing here waits: the user interface goes
// on while the user signs in. The wait ends after WaitLimit, on Cancel, or on a new Start.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "signin/RedirectListener.h"
#include "signin/TokenStore.h"

class OAuthSignIn {
public:
    enum class State { Idle, Waiting, SignedIn, Failed };
    static constexpr std::chrono::minutes WaitLimit{5};

    // Hands the address to a browser; false when none could be started.
    using Opener = std::function<bool(const std::string& url)>;
    OAuthSignIn(TokenStore& tokens, Opener opener);
    ~OAuthSignIn();

    // A new proof key, state and listener, then the authorize address with login_hint is opened.
    // A sign-in still waiting is given up first. When the opener starts no browser the sign-in has
    // Failed at once ("no browser could be started"). Raises what RedirectListener raises and
    // EIdException when the random source fails; the opener's failures pass through.
    void Start(const std::string& loginHint, RedirectPages pages);
    // Serves the listener while Waiting: SignedIn once the code was exchanged and the tokens
    // stored; Failed on an error redirect, a refused or failed exchange, or after WaitLimit
    // (FailureText says why). Raises nothing.
    State Poll();
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

    TokenStore& tokens_;
    Opener opener_;
    std::unique_ptr<RedirectListener> listener_;
    std::string verifier_;
    std::chrono::steady_clock::time_point deadline_{};
    State state_ = State::Idle;
    std::u16string reason_;
    std::string errorCode_;
};

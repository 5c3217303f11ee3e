#pragma once
// The tokens of the current sign-in settings, reached off the user-interface thread: every call
// to the token store (the keyring, the token endpoint) runs as background work, one at a time
// and in the order asked, and reports on the user-interface thread. What the window shows of the
// store comes from the last report, so that showing it never waits.

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "shell/BackgroundWork.h"
#include "signin/TokenStore.h"

class BackgroundTokens {
public:
    // The store as the last finished piece of work left it.
    struct Report {
        std::optional<bool> stored; // a refresh token is stored; none until a piece has found out
        bool signInNeeded = false;
        SignInCause cause = SignInCause::None;
        std::u16string refusal; // the provider's, when the cause is Refused
        KeyringOrFile::Keyring keyring = KeyringOrFile::Keyring::Untried;
        std::u16string where;
    };
    // failure: what the piece raised, or nullptr.
    using Done = std::function<void(std::exception_ptr failure)>;

    // The refresh token is kept under entry in the system's secret store, else in a file of folder.
    BackgroundTokens(OAuthClient client, std::u16string entry, std::u16string folder);
    ~BackgroundTokens();

    const OAuthClient& Client() const { return client_; }
    const Report& Last() const { return last_; }
    // Pieces asked for and not yet reported.
    bool Busy() const { return !queue_.empty(); }

    // Finds out whether a refresh token is stored.
    void ReadStored(Done done);
    // The access token for a check (TokenStore::AccessToken); after a rejection by the mail server
    // the held one is forgotten first, so that a new one is asked for.
    void AccessToken(bool afterRejection,
                     std::function<void(std::string token, std::exception_ptr failure)> done);
    // The mail server refused a fresh token too: the store asks for a new sign-in.
    void RejectedAgain(Done done);
    // TokenStore::ExchangeCode.
    void ExchangeCode(std::string code, std::string redirectUri, std::string verifier, Done done);
    // TokenStore::SignOut: the token is erased from the keyring and the file.
    void SignOut(Done done);

private:
    struct Held;
    // One piece: runs on the store, gives whether a token is stored when it knows.
    using Piece = std::function<std::optional<bool>(TokenStore&)>;
    void Enqueue(Piece piece, Done done);
    void StartNext();

    OAuthClient client_;
    std::shared_ptr<Held> held_;
    Report last_;
    std::deque<std::pair<Piece, Done>> queue_; // the first one runs
    BackgroundWork work_;
};

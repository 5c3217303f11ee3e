#pragma once
// One mailbox the tray watches: its settings, its POP3 or IMAP client, the IMAP watch, its tokens
// for OAuth sign-in, and what its last check found.
//
// A check runs off the user-interface thread: connect, sign in, count and fetch the notice's
// headers happen as background work on the mailbox's own client, which nothing else touches
// meanwhile; the outcome is applied on the user-interface thread when the work reports. Each
// mailbox has its own connection, time-outs and session limit, so several check side by side.
// A check asked for while one runs is noted and runs once more after it.
//
//     Mailbox mailbox(settings, folder, events);
//     mailbox.Check();   // later, on the user-interface thread: events.counted(mailbox, ...)

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/BackgroundTokens.h"
#include "app/MailboxSettings.h"
#include "app/MailboxWatch.h"
#include "imap/ImapClient.h"
#include "pop3/Pop3Client.h"
#include "shell/BackgroundWork.h"

// The client ID a packager built in for a provider, used when the settings hold none.
std::string BuiltInClientId(TOAuthProvider provider);
// The OAuth client a mailbox signs in with: its provider's preset for its protocol, or its own
// addresses and scope.
OAuthClient MailboxOAuthClient(const MailboxSettings& mailbox);
// The failure of a piece of token work, in the words the tip shows.
std::u16string TokenFailureText(std::exception_ptr failure, const BackgroundTokens::Report& report,
                                TUiLanguage language);
// The folder of the settings file, where the token file goes when no secret store answers.
std::u16string TokenFolder();
// Whether a check may run: server, port, user name and password (not with OAuth), the mail
// program and the sound are all given.
bool ReadyToCheck(const MailboxSettings& mailbox, const SharedSettings& shared);

class Mailbox {
public:
    // What a mailbox tells its owner, always on the user-interface thread.
    struct Events {
        // A check, or the watch, has ended: the last count and failure are now the mailbox's.
        // previous: the count before; headers: of the newest new messages, for the notice.
        std::function<void(Mailbox&, int32_t previous, const std::vector<NewMessageHeader>& headers)> checked;
        // Another check is wanted (the watch reconnects, a check was asked for while one ran, a
        // token came after a sign-in): the owner runs Check when checks may run now.
        std::function<void(Mailbox&)> checkAgain;
        // The check is put off until PutOffUntil (the POP3 server's least time between sign-ins).
        std::function<void(Mailbox&)> putOff;
        // Whether checks may run now (the settings window is hidden).
        std::function<bool(Mailbox&)> mayCheck;
        // The mail server refused a fresh token too: the mailbox's tokens ask for a new sign-in.
        std::function<void(Mailbox&)> rejectedAgain;
    };

    // folder: where the token file goes when no secret store answers.
    Mailbox(MailboxSettings settings, std::u16string folder, Events events);
    ~Mailbox();
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    const MailboxSettings& Settings() const { return settings_; }
    // New settings for this place in the list: a watched connection ends (without waiting for
    // the server),
    // the tokens are made anew when the sign-in changed, and a check under way is disregarded and
    // run again. The last count stays.
    void Reconfigure(MailboxSettings settings);

    // Counts on the watched connection while the watch idles; else starts a check in the
    // background (with OAuth, after its access token), unless the POP3 server's least time
    // between sign-ins has not passed. byTimer: the periodic check, which leaves a reconnecting
    // watch to its own pauses.
    void Check(bool byTimer = false);
    // Applies a failure found outside a check (the keyring did not answer).
    void ShowFailure(const std::u16string& failure);
    // The goodbye on the watched connection ("DONE", "LOGOUT", waiting at most
    // MailboxWatch::GoodbyeTimeoutMs for each answer), to run on any thread; the watch is off
    // from now on. Empty when no connection is watched.
    std::function<void()> TakeGoodbye();
    // Drops the tokens held (a sign-in or sign-out in the window changed the stored one).
    void ForgetTokens();

    // A check, or work on its token, has not reported yet.
    bool Busy() const;
    // A check (or the watch) has ended since the mailbox was made.
    bool CheckEnded() const { return checkEnded_; }
    int32_t LastCount() const { return lastCount_; }
    bool LastCheckFailed() const { return lastCheckFailed_; }
    const std::u16string& LastCheckError() const { return lastCheckError_; }
    // When the check put off for the server's least time between sign-ins is due.
    std::optional<std::chrono::steady_clock::time_point> PutOffUntil() const { return putOffUntil_; }
    // The store its tokens belong to: the secret store's entry and the OAuth client.
    std::u16string TokensKey() const;
    // The mailbox as the announced messages are kept by.
    std::string AnnouncedKey() const;

    MailboxWatch& Watch() { return *watch_; }
    ImapClient& Imap() { return *imap_; }
    // Puts another POP3 client in place, for tests that script the server's side.
    void ReplacePop3ClientForTesting(std::unique_ptr<TIdPOP3> client) { pop3_ = std::move(client); }

    struct Outcome;

private:
    void CreateWatch();
    // Hands a watched connection to background work that says goodbye on it (the watch is off).
    void LeaveWatchedConnection();
    BackgroundTokens& Tokens();
    // The check with OAuth: TLS required, then the access token (refreshed when due, in the
    // background), then the check with it. A token the server rejects is refreshed and tried
    // once more; a second rejection asks for a new sign-in.
    void CheckWithAccessToken(bool afterRejection);
    // Starts the check's background work; token: the access token (empty with a password).
    void StartCheck(std::string token, bool afterRejection);
    void CheckEnded(const Outcome& outcome, bool afterRejection);
    // Once the check under way has ended, or now through Events::checkAgain.
    void AskForAnotherCheck();
    // The end of every check: the count, or the previous one with the failure.
    void Apply(std::optional<int32_t> count, std::u16string failure,
               const std::vector<NewMessageHeader>& headers);
    // For how many of the newest messages the notice wants headers after this count: those that
    // arrived since the last count, at most NoticeNamesMost (0: none).
    int32_t NoticeHeadersWanted(int32_t count) const;
    // While the server's least time between sign-ins has not passed since the last sign-in, puts
    // the check off until it has.
    bool PutOffForLoginDelay();

    MailboxSettings settings_;
    std::u16string folder_;
    Events events_;
    // Shared with the check's background work, which may outlive the mailbox.
    std::shared_ptr<TIdPOP3> pop3_;
    std::shared_ptr<ImapClient> imap_;
    std::unique_ptr<MailboxWatch> watch_;
    std::unique_ptr<BackgroundTokens> tokens_;
    std::u16string tokensKey_;
    bool awaitsToken_ = false;
    bool running_ = false;  // a check's background work has not reported
    bool again_ = false;    // a check was asked for meanwhile
    bool outdated_ = false; // the settings changed since the running check began
    bool checkEnded_ = false;
    int32_t lastCount_ = 0;
    bool lastCheckFailed_ = false;
    std::u16string lastCheckError_;
    // The last POP3 sign-in, with the least time the server wants before the next one.
    std::optional<std::chrono::steady_clock::time_point> signedInAt_;
    std::chrono::seconds loginDelay_{0};
    std::optional<std::chrono::steady_clock::time_point> putOffUntil_;
    BackgroundWork work_;
    // The goodbyes of watched connections given up by Reconfigure or the destructor.
    BackgroundWork goodbyes_;
};

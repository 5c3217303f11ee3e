#include "app/Mailbox.h"

#include <algorithm>
#include <utility>

#include "app/AnnouncedMessages.h"
#include "app/MainTexts.h"
#include "app/NewMailNotice.h"
#include "base/Exceptions.h"
#include "mail/BearerSasl.h"
#include "pop3/Pop3Errors.h"
#include "toolz/INIToolz.h"
#include "toolz/SettingsLocation.h"
#include "toolz/Toolz.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t CheckTimeoutMs = 5000;
constexpr int32_t DefaultPOP3Port = 110;
// Beyond the server's least time between sign-ins: its clock may count in whole seconds.
constexpr std::chrono::seconds LoginDelayMargin{1};

// The message of the exception being handled, on one line: each run of line breaks becomes a
// blank. A failure without a message is named in a few words, so the failure line never ends
// empty (a reply without a known code, for one, is refused with no text at all).
std::u16string CurrentErrorMessageOnOneLine() {
    std::u16string message;
    std::u16string whenEmpty = u"unexpected error";
    try {
        throw;
    } catch (const EIdReplyPOP3Error& error) {
        message = error.Message();
        whenEmpty = error.FailedReplyCode().empty() ? u"unexpected reply"
                                                    : u"unexpected reply (" + error.FailedReplyCode() + u")";
    } catch (const Exception& error) {
        message = error.Message();
    } catch (const std::exception& error) {
        message = Utf8ToText(error.what());
    } catch (...) {
    }
    std::u16string folded;
    for (char16_t c : message) {
        const bool lineBreak = c == u'\r' || c == u'\n';
        if (!lineBreak)
            folded += c;
        else if (!folded.empty() && folded.back() != u' ')
            folded += u' ';
    }
    while (!folded.empty() && folded.back() == u' ')
        folded.pop_back();
    return folded.empty() ? whenEmpty : folded;
}

// The exception being handled is the server's refusal of a sign-in too soon after the last one
// (which this program may not have seen: it started since), from a server that said how long
// it wants between them.
bool RefusedAsTooSoon(TIdPOP3& client) {
    try {
        throw;
    } catch (const EIdReplyPOP3Error&) {
        return client.LoginDelay() && SameTextAscii(client.LastReply().EnhancedCode(), u"[LOGIN-DELAY]");
    } catch (...) {
        return false;
    }
}

} // namespace

struct Mailbox::Outcome {
    std::optional<int32_t> count;             // none when the check failed before the count arrived
    std::u16string failure;                   // the error that ended it then, on one line
    std::vector<NewMessageHeader> newHeaders; // of the newest new messages, for the notice
    bool tooSoon = false;                     // refused as too soon after the last sign-in
    bool watching = false;                    // the connection waits in IDLE for the watch
    bool tokenRejected = false;               // the server refused the access token
    // Set when a POP3 session signed in, or was refused as too soon: the server's least time
    // between sign-ins then.
    std::optional<std::optional<std::chrono::seconds>> loginDelay;
    Clock::time_point signedInAt;
};

namespace {

// One check as its background work runs it, on the mailbox's client and a copy of its settings.
struct CheckRun {
    MailboxSettings settings;
    std::string token;
    int32_t lastCount = 0;
    std::shared_ptr<TIdPOP3> pop3;
    std::shared_ptr<ImapClient> imap;
    Mailbox::Outcome outcome;

    int32_t Arrived(int32_t count) const {
        return static_cast<int32_t>(std::min<int64_t>(int64_t{count} - lastCount, INT32_MAX));
    }
    bool WantsHeaders(int32_t count) const { return count > lastCount && settings.notify; }

    // Runs connect, which connects and signs in (with the token, when the check has one). Notes a
    // rejected token.
    template <class Connect> void SignIn(Connect connect) {
        try {
            connect();
        } catch (const EBearerTokenRejected&) {
            outcome.tokenRejected = settings.signIn == siOAuth;
            throw;
        }
    }

    void NotePop3SignIn() {
        outcome.loginDelay = pop3->LoginDelay();
        outcome.signedInAt = Clock::now();
    }

    // "CloseSession" after the count; after a failure, only while the connection is still open.
    // An error of that query itself is not caught: it reaches the default error report.
    void WithPop3() {
        try {
            pop3->SetConnectTimeout(CheckTimeoutMs);
            pop3->SetReadTimeout(CheckTimeoutMs);
        } catch (...) {
        }
        try {
            pop3->SetHost(settings.server);
            // Before the port: the client's own move of a default port must not override the box.
            pop3->SetUseTLS(settings.useTLS);
            pop3->SetPort(IntegerFromText(settings.port, DefaultPOP3Port));
            pop3->SetUsername(settings.userName);
            pop3->SetPassword(settings.password);
            SignIn([this] {
                pop3->SetAuthType(token.empty() ? patUserPass : patSASL);
                pop3->SetBearerToken(token);
                pop3->ConnectAndLogIn();
                NotePop3SignIn();
            });
            outcome.count = pop3->QueryMessageCount();
            outcome.newHeaders = NewPop3Headers(*outcome.count);
            pop3->CloseSession(true);
        } catch (...) {
            if (!outcome.count && RefusedAsTooSoon(*pop3)) {
                NotePop3SignIn();
                outcome.tooSoon = true;
            }
            if (!outcome.count)
                outcome.failure = CurrentErrorMessageOnOneLine();
            if (pop3->TcpConnectionIsOpen()) {
                try {
                    pop3->CloseSession(true);
                } catch (...) {
                }
            }
        }
    }

    // None when fetching fails (the session is then closed without "QUIT").
    std::vector<NewMessageHeader> NewPop3Headers(int32_t count) {
        if (!WantsHeaders(count))
            return {};
        try {
            return pop3->RetrieveNewHeaders(count, Arrived(count), NoticeNamesMost);
        } catch (...) {
            // The exchange may be out of step: no "QUIT" after it.
            try {
                pop3->CloseSession(false);
            } catch (...) {
            }
            return {};
        }
    }

    // The unseen messages of INBOX. On a server that offers IDLE the connection is left in IDLE
    // for the watch; elsewhere, and when IDLE cannot start, the session ends here.
    void WithImap() {
        try {
            imap->SetConnectTimeout(CheckTimeoutMs);
            imap->SetReadTimeout(CheckTimeoutMs);
            imap->SetHost(settings.server);
            imap->SetUseTLS(settings.useTLS);
            imap->SetPort(IntegerFromText(settings.port, ImapClient::DefaultPort));
            imap->SetUsername(settings.userName);
            imap->SetPassword(settings.password);
            SignIn([this] {
                imap->SetAccessToken(Utf8ToText(token));
                imap->ConnectAndLogIn();
            });
            outcome.count = imap->QueryUnseenCount();
            outcome.newHeaders = NewImapHeaders(*outcome.count);
            if (imap->HasCapability(u"IDLE") && MailboxWatch::EnterIdle(*imap)) {
                outcome.watching = true;
                return;
            }
            imap->CloseSession();
        } catch (...) {
            if (!outcome.count)
                outcome.failure = CurrentErrorMessageOnOneLine();
            try {
                imap->CloseTcpConnection(false);
            } catch (...) {
            }
        }
    }

    // INBOX is opened read-only first.
    std::vector<NewMessageHeader> NewImapHeaders(int32_t count) {
        if (!WantsHeaders(count))
            return {};
        try {
            imap->ExamineInbox();
            return imap->RetrieveNewHeaders(count, Arrived(count), NoticeNamesMost);
        } catch (...) {
            return {}; // a connection the failure left out of step is closed already
        }
    }
};

} // namespace

std::string BuiltInClientId(TOAuthProvider provider) {
    switch (provider) {
    case opMicrosoft:
        return BG_MICROSOFT_CLIENT_ID;
    case opGoogle:
        return BG_GOOGLE_CLIENT_ID;
    default:
        return "";
    }
}

OAuthClient MailboxOAuthClient(const MailboxSettings& mailbox) {
    OAuthClient client;
    const auto preset =
        ProviderPreset(OAuthProviderName(mailbox.oauthProvider),
                       mailbox.protocol == mpIMAP ? MailboxProtocol::Imap : MailboxProtocol::Pop3);
    if (preset) {
        client.Provider = *preset;
    } else {
        client.Provider.AuthorizeUrl = TextToUtf8(mailbox.oauthAuthorizeUrl);
        client.Provider.TokenUrl = TextToUtf8(mailbox.oauthTokenUrl);
        client.Provider.Scope = TextToUtf8(mailbox.oauthScope);
    }
    client.ClientId = TextToUtf8(mailbox.oauthClientId);
    if (client.ClientId.empty())
        client.ClientId = BuiltInClientId(mailbox.oauthProvider);
    client.ClientSecret = TextToUtf8(mailbox.oauthClientSecret);
    return client;
}

std::u16string TokenFailureText(std::exception_ptr failure, const BackgroundTokens::Report& report,
                                TUiLanguage language) {
    try {
        std::rethrow_exception(failure);
    } catch (const ESecretStoreNoAnswer&) {
        return KeyringNoAnswerText(language);
    } catch (const Exception& error) {
        // No refresh token, or the provider refused it: only the user can mend that.
        return report.signInNeeded ? SignInAgainText(language, report.cause, report.refusal)
                                   : error.Message();
    } catch (...) {
        return u"unexpected error";
    }
}

std::u16string TokenFolder() {
    const std::u16string path = SettingsFilePath();
    const size_t separator = path.find_last_of(PathSeparators());
    return separator == std::u16string::npos ? u"." : path.substr(0, separator);
}

bool ReadyToCheck(const MailboxSettings& mailbox, const SharedSettings& shared) {
    return !mailbox.server.empty() && !mailbox.port.empty() && !mailbox.userName.empty() &&
           (!mailbox.password.empty() || mailbox.signIn == siOAuth) && !shared.pathToClient.empty() &&
           !shared.pathToSound.empty();
}

Mailbox::Mailbox(MailboxSettings settings, std::u16string folder, Events events)
    : settings_(std::move(settings)), folder_(std::move(folder)), events_(std::move(events)),
      pop3_(std::make_shared<TIdPOP3>()), imap_(std::make_shared<ImapClient>()) {
    pop3_->SetAutoLogin(true);
    CreateWatch();
}

Mailbox::~Mailbox() {
    LeaveWatchedConnection();
}

void Mailbox::CreateWatch() {
    watch_ = std::make_unique<MailboxWatch>(
        *imap_,
        [this](int32_t count, const std::vector<NewMessageHeader>& headers) { Apply(count, {}, headers); },
        [this](int32_t count) { return NoticeHeadersWanted(count); }, [this] { events_.checkAgain(*this); });
}

std::function<void()> Mailbox::TakeGoodbye() {
    if (watch_->State() != MailboxWatch::wsIdling)
        return {};
    const bool inStep = watch_->Release();
    return [client = imap_, inStep] {
        client->SetReadTimeout(MailboxWatch::GoodbyeTimeoutMs);
        client->SetSessionTimeLimit(std::chrono::milliseconds(2 * MailboxWatch::GoodbyeTimeoutMs));
        try {
            client->CloseTcpConnection(inStep);
        } catch (...) {
        }
    };
}

void Mailbox::LeaveWatchedConnection() {
    if (std::function<void()> goodbye = TakeGoodbye())
        goodbyes_.Run(std::move(goodbye), [](std::exception_ptr) {});
}

void Mailbox::Reconfigure(MailboxSettings settings) {
    if (settings.server != settings_.server || settings.port != settings_.port ||
        settings.userName != settings_.userName) {
        signedInAt_.reset();
        putOffUntil_.reset();
    }
    settings_ = std::move(settings);
    // A token asked for with the old sign-in is not used.
    if (tokens_ && TokensKey() != tokensKey_)
        ForgetTokens();
    // A watch that reconnects goes on with the new settings.
    if (watch_->State() == MailboxWatch::wsIdling) {
        LeaveWatchedConnection();
        imap_ = std::make_shared<ImapClient>();
        CreateWatch();
    }
    outdated_ = running_;
}

void Mailbox::Check(bool byTimer) {
    if (byTimer && watch_->State() == MailboxWatch::wsReconnecting)
        return;
    if (running_ || awaitsToken_) {
        again_ = true;
        return;
    }
    if (watch_->State() == MailboxWatch::wsIdling)
        return watch_->CountNow();
    if (settings_.protocol == mpPOP3 && PutOffForLoginDelay())
        return;
    if (settings_.signIn == siOAuth)
        return CheckWithAccessToken(false);
    StartCheck({}, false);
}

bool Mailbox::Busy() const {
    return running_ || awaitsToken_ || (tokens_ && tokens_->Busy());
}

void Mailbox::StartCheck(std::string token, bool afterRejection) {
    auto run = std::make_shared<CheckRun>();
    run->settings = settings_;
    run->token = std::move(token);
    run->lastCount = lastCount_;
    run->pop3 = pop3_;
    run->imap = imap_;
    running_ = true;
    again_ = false;
    outdated_ = false;
    work_.Run(
        [run] {
            if (run->settings.protocol == mpIMAP)
                run->WithImap();
            else
                run->WithPop3();
        },
        [this, run, afterRejection](std::exception_ptr failure) {
            running_ = false;
            const bool again = std::exchange(again_, false) || outdated_;
            // Raised after the next check is asked for, to the default error report.
            struct AskAgain {
                Mailbox& mailbox;
                bool again;
                ~AskAgain() {
                    if (again)
                        mailbox.AskForAnotherCheck();
                }
            } askAgain{*this, again};
            if (failure)
                std::rethrow_exception(failure);
            if (!outdated_)
                return CheckEnded(run->outcome, afterRejection);
            // The connection was opened with the settings as they were.
            if (run->outcome.watching)
                run->imap->CloseTcpConnection(false);
        });
}

void Mailbox::AskForAnotherCheck() {
    if (running_ || awaitsToken_)
        again_ = true;
    else
        events_.checkAgain(*this);
}

void Mailbox::CheckEnded(const Outcome& outcome, bool afterRejection) {
    if (outcome.loginDelay) {
        signedInAt_ = outcome.signedInAt;
        loginDelay_ = outcome.loginDelay->value_or(std::chrono::seconds(0));
    }
    if (outcome.tooSoon && PutOffForLoginDelay())
        return;
    if (outcome.tokenRejected) {
        if (!afterRejection)
            return CheckWithAccessToken(true); // a fresh token, tried once
        // A fresh token refused as well: nothing is asked of the provider until the user signs in.
        tokens_->RejectedAgain([this](std::exception_ptr) { events_.rejectedAgain(*this); });
        return Apply(std::nullopt, SignInAgainText(CurrentUiLanguage(), SignInCause::Rejected), {});
    }
    if (outcome.watching)
        watch_->Start();
    else if (outcome.count)
        watch_->Stop();
    Apply(outcome.count, outcome.failure, outcome.newHeaders);
}

void Mailbox::Apply(std::optional<int32_t> count, std::u16string failure,
                    const std::vector<NewMessageHeader>& headers) {
    // A failure after the count arrived (while closing) does not make the count stale.
    const int32_t previous = lastCount_;
    checkEnded_ = true;
    lastCheckFailed_ = !count;
    lastCheckError_ = std::move(failure);
    lastCount_ = count.value_or(lastCount_);
    events_.checked(*this, previous, headers);
}

void Mailbox::ShowFailure(const std::u16string& failure) {
    Apply(std::nullopt, failure, {});
}

int32_t Mailbox::NoticeHeadersWanted(int32_t count) const {
    if (count <= lastCount_ || !settings_.notify)
        return 0;
    return static_cast<int32_t>(std::min<int64_t>(int64_t{count} - lastCount_, NoticeNamesMost));
}

// The tray keeps the last count meanwhile: the check has not failed, it waits its turn.
bool Mailbox::PutOffForLoginDelay() {
    putOffUntil_.reset();
    if (!signedInAt_ || loginDelay_.count() <= 0)
        return false;
    const Clock::time_point due = *signedInAt_ + loginDelay_ + LoginDelayMargin;
    if (due <= Clock::now())
        return false;
    putOffUntil_ = due;
    events_.putOff(*this);
    return true;
}

std::string Mailbox::AnnouncedKey() const {
    return AnnouncedMessages::MailboxKey(settings_.protocol == mpIMAP ? u"IMAP" : u"POP3", settings_.userName,
                                         settings_.server, settings_.port);
}

// A store belongs to one mailbox and one client at one provider.
std::u16string Mailbox::TokensKey() const {
    const OAuthClient client = MailboxOAuthClient(settings_);
    return TokenEntryName(settings_.server, settings_.userName) + u"\n" +
           Utf8ToText(client.ClientId + "\n" + client.ClientSecret + "\n" + client.Provider.AuthorizeUrl +
                      "\n" + client.Provider.TokenUrl + "\n" + client.Provider.Scope);
}

BackgroundTokens& Mailbox::Tokens() {
    const std::u16string key = TokensKey();
    if (!tokens_ || key != tokensKey_) {
        awaitsToken_ = false; // what the old store still does reports nowhere
        tokens_ = std::make_unique<BackgroundTokens>(
            MailboxOAuthClient(settings_), TokenEntryName(settings_.server, settings_.userName), folder_);
        tokensKey_ = key;
    }
    return *tokens_;
}

void Mailbox::ForgetTokens() {
    tokens_.reset();
    awaitsToken_ = false;
}

void Mailbox::CheckWithAccessToken(bool afterRejection) {
    if (settings_.useTLS != utUseImplicitTLS && settings_.useTLS != utUseRequireTLS)
        return Apply(std::nullopt, SignInNeedsTlsText(CurrentUiLanguage()), {});
    BackgroundTokens& tokens = Tokens();
    awaitsToken_ = true;
    tokens.AccessToken(afterRejection, [this, afterRejection](std::string token, std::exception_ptr failure) {
        awaitsToken_ = false;
        // The window was opened meanwhile: the check waits until it is hidden again.
        if (!events_.mayCheck(*this))
            return;
        if (failure)
            return Apply(std::nullopt, TokenFailureText(failure, tokens_->Last(), CurrentUiLanguage()), {});
        StartCheck(std::move(token), afterRejection);
    });
}

#include "fuzz/HostileMailChecks.h"

#include "base/Text.h"
#include "fuzz/FuzzChecks.h"
#include "fuzz/HostileCheck.h"
#include "imap/ImapClient.h"
#include "pop3/Pop3Client.h"

namespace {

using std::chrono::milliseconds;

constexpr int ProgramTimeoutMs = 5000;
constexpr int CapturedLines = 200;
constexpr int IdlePolls = 3;
constexpr int IdlePollMs = 10;
constexpr int32_t NoticeHeadersMost = 3;
constexpr std::u16string_view Password = u"secret";
// A password whose bytes IMAP cannot quote.
constexpr std::u16string_view LiteralPassword = u"s\u00e9cret";

TIdUseTLS TlsModeOf(std::string_view script, bool overTls) {
    if (!overTls || ScriptAsks(script, "plain"))
        return utNoTLSSupport;
    if (script.starts_with("#tls"))
        return utUseImplicitTLS;
    return ScriptAsks(script, "offered") ? utUseExplicitTLS : utUseRequireTLS;
}

bool TlsRequired(TIdUseTLS mode) {
    return mode == utUseImplicitTLS || mode == utUseRequireTLS;
}

// After the sign-in: when TLS is required, the session runs over it.
void ExpectTlsAsRequired(const TIdExplicitTLSClient& client) {
    FUZZ_CHECK(!TlsRequired(client.UseTLS()) || client.TlsActive(), "signed in without TLS");
}

template <class Client> void AimAtPeer(Client& client, milliseconds sessionLimit) {
    client.SetUsername(u"anna");
    client.SetPassword(std::u16string(Password));
    client.SetConnectTimeout(ProgramTimeoutMs);
    client.SetReadTimeout(ProgramTimeoutMs);
    client.SetSessionTimeLimit(sessionLimit);
}

// The headers of what arrived, as the program takes them for its notice: a failure there ends the
// session without "QUIT" (the exchange may be out of step) but not the check.
void TakeNewHeaders(TIdPOP3& pop3, int32_t count) {
    try {
        pop3.RetrieveNewHeaders(count, count, NoticeHeadersMost);
    } catch (const Exception&) {
        pop3.CloseSession(false);
    }
}

// The same for IMAP: a failure there has closed a connection it left out of step.
void TakeNewHeaders(ImapClient& imap, int32_t count) {
    try {
        imap.ExamineInbox();
        imap.RetrieveNewHeaders(count, count, NoticeHeadersMost);
    } catch (const Exception&) {
    }
}

void RunPop3Checks(std::string_view input, bool overTls, milliseconds sessionLimit) {
    auto client = std::make_unique<TIdPOP3>();
    TIdPOP3& pop3 = *client;
    AimAtPeer(pop3, sessionLimit);
    pop3.SetMaxCapturedLines(CapturedLines);
    pop3.SetBearerToken(TextToUtf8(Password));
    const auto check = [&pop3, overTls, sessionLimit](std::string_view script) {
        const TIdUseTLS mode = TlsModeOf(script, overTls);
        pop3.SetUseTLS(mode);
        pop3.SetHost(ScriptedPeerHost(script));
        pop3.SetPort(ScriptedPeerPort(script));
        pop3.SetAuthType(ScriptAsks(script, "token")  ? patSASL
                         : ScriptAsks(script, "apop") ? patAPOP
                                                      : patUserPass);
        const bool notifies = ScriptAsks(script, "notify");
        const auto steps = [&pop3, notifies] {
            pop3.ConnectAndLogIn();
            ExpectTlsAsRequired(pop3);
            const int32_t count = pop3.QueryMessageCount();
            if (notifies && count > 0)
                TakeNewHeaders(pop3, count);
            pop3.CloseSession(true);
        };
        return CheckOutcome{CheckLeftAnErrorToReport(pop3, steps, [&pop3] { pop3.CloseSession(true); }),
                            TlsRequired(mode), TextToUtf8(Password), sessionLimit};
    };
    RunHostileChecks(input, std::move(client), check);
}

// Takes in the reply awaited as the watch does, whenever the socket has bytes; the client's
// reply deadline ends the wait.
void AwaitWatchedReply(ImapClient& imap) {
    while (!imap.TakeArrived())
        if (!imap.MoreArrived())
            imap.IOHandler()->Binding()->WaitReadable(IdlePollMs);
}

// The mailbox watch: the count in the opened mailbox, a few polls in IDLE, one exchange as the
// watch sends it without waiting ("DONE", the count, "IDLE"), and the end.
void WatchOnce(ImapClient& imap) {
    imap.ConnectAndLogIn();
    ExpectTlsAsRequired(imap);
    imap.ExamineInbox();
    imap.CountUnseenInSelected();
    imap.StartIdle();
    for (int poll = 0; poll < IdlePolls && imap.Idling(); ++poll)
        imap.PollIdle(IdlePollMs);
    if (imap.SendDone())
        AwaitWatchedReply(imap);
    for (int32_t round = 1;; ++round) {
        imap.SendCommand(imap.UnseenSearchCommand());
        AwaitWatchedReply(imap);
        if (imap.UnseenSearchCount(round))
            break;
    }
    imap.SendIdle();
    AwaitWatchedReply(imap);
    imap.StopIdle();
    imap.CloseSession();
}

void RunImapChecks(std::string_view input, bool overTls, milliseconds sessionLimit) {
    auto client = std::make_unique<ImapClient>();
    ImapClient& imap = *client;
    AimAtPeer(imap, sessionLimit);
    const auto check = [&imap, overTls, sessionLimit](std::string_view script) {
        const TIdUseTLS mode = TlsModeOf(script, overTls);
        imap.SetUseTLS(mode);
        imap.SetHost(ScriptedPeerHost(script));
        imap.SetPort(ScriptedPeerPort(script));
        imap.SetAccessToken(ScriptAsks(script, "token") ? std::u16string(Password) : u"");
        const std::u16string_view password = ScriptAsks(script, "literal") ? LiteralPassword : Password;
        imap.SetPassword(std::u16string(password));
        const bool watches = ScriptAsks(script, "idle");
        const bool notifies = ScriptAsks(script, "notify");
        const auto steps = [&imap, watches, notifies] {
            if (watches)
                return WatchOnce(imap);
            imap.ConnectAndLogIn();
            ExpectTlsAsRequired(imap);
            if (const int32_t count = imap.QueryUnseenCount(); count > 0 && notifies)
                TakeNewHeaders(imap, count);
            imap.CloseSession();
        };
        // The watch's exchanges after IDLE have a session limit of their own.
        const milliseconds limit =
            watches ? 3 * sessionLimit + milliseconds(IdlePolls * IdlePollMs) : sessionLimit;
        return CheckOutcome{CheckLeftAnErrorToReport(imap, steps, [&imap] { imap.CloseSession(); }),
                            TlsRequired(mode), TextToUtf8(password), limit};
    };
    RunHostileChecks(input, std::move(client), check);
}

} // namespace

void RunHostileMailChecks(std::string_view input, bool overTls, milliseconds sessionLimit) {
    if (ScriptAsks(input, "imap"))
        RunImapChecks(input, overTls, sessionLimit);
    else
        RunPop3Checks(input, overTls, sessionLimit);
}

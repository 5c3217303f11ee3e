// The mail check: count the messages in the mailbox and show the outcome in the tray.

#include <optional>

#include <algorithm>
#include <cstdint>

#include "app/Main.h"
#include "app/MainTexts.h"
#include "app/NewMailNotice.h"
#include "app/TrayImages.h"
#include "app/TraySummary.h"
#include "base/Exceptions.h"
#include "pop3/Pop3Errors.h"
#include "toolz/INIToolz.h"
#include "toolz/MMToolz.h"
#include "toolz/Toolz.h"

int32_t LastMessageCount = 0;

namespace {

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

void TfrmMain::CheckMailbox() {
    if (Visible() || !SixFieldsFilled())
        return;
    if (WatchMain->State() == MailboxWatch::wsIdling) {
        WatchMain->CountNow();
        return;
    }
    if (Protocol() == mpPOP3 && PutOffForLoginDelay())
        return;
    if (SignInKind() == siOAuth)
        return CheckWithAccessToken(false);
    const CheckOutcome outcome = Protocol() == mpIMAP ? CheckWithImap() : CheckWithPop3();
    if (outcome.tooSoon && PutOffForLoginDelay())
        return;
    ShowCheckOutcome(outcome);
}

std::u16string TfrmMain::Pop3SignInKey() const {
    return txtPOP3Server.Text() + u"\n" + txtPort.Text() + u"\n" + txtUserName.Text();
}

void TfrmMain::NotePop3SignIn() {
    const std::optional<std::chrono::seconds> delay = POP3Main->LoginDelay();
    if (delay && delay->count() > 0)
        lastPop3SignIn_ = Pop3SignIn{std::chrono::steady_clock::now(), *delay, Pop3SignInKey()};
    else
        lastPop3SignIn_.reset();
}

// The tray keeps the last count meanwhile: the check has not failed, it waits its turn.
bool TfrmMain::PutOffForLoginDelay() {
    if (!lastPop3SignIn_ || lastPop3SignIn_->key != Pop3SignInKey())
        return false;
    const auto due = lastPop3SignIn_->at + lastPop3SignIn_->delay + LoginDelayMargin;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return false;
    TimerLoginDelay.SetEnabled(false);
    TimerLoginDelay.SetOnTimer(MethodEvent(this, &TfrmMain::TimerLoginDelayTimer));
    TimerLoginDelay.SetInterval(static_cast<uint32_t>(left.count()));
    TimerLoginDelay.SetEnabled(true);
    return true;
}

void TfrmMain::TimerLoginDelayTimer(TObject*) {
    TimerLoginDelay.SetEnabled(false);
    CheckMailbox();
}

// "CloseSession" after the count; after a failure, only while the connection is still open. An
// error of that query itself is not caught: it reaches the default error report.
TfrmMain::CheckOutcome TfrmMain::CheckWithPop3() {
    try {
        POP3Main->SetConnectTimeout(CheckTimeoutMs);
        POP3Main->SetReadTimeout(CheckTimeoutMs);
    } catch (...) {
    }
    CheckOutcome outcome;
    try {
        POP3Main->SetHost(txtPOP3Server.Text());
        // Before the port: the client's own move of a default port must not override the box.
        POP3Main->SetUseTLS(UseTLSSetting());
        POP3Main->SetPort(IntegerFromText(txtPort.Text(), DefaultPOP3Port));
        POP3Main->SetUsername(txtUserName.Text());
        POP3Main->SetPassword(txtPassword.Text());
        ConnectAndSignIn([this](const std::string& token) {
            POP3Main->SetAuthType(token.empty() ? patUserPass : patSASL);
            POP3Main->SetBearerToken(token);
            POP3Main->ConnectAndLogIn();
            NotePop3SignIn();
        });
        outcome.count = POP3Main->QueryMessageCount();
        outcome.newHeaders = NewPop3Headers(*outcome.count);
        POP3Main->CloseSession(true);
    } catch (...) {
        if (!outcome.count && RefusedAsTooSoon(*POP3Main)) {
            NotePop3SignIn();
            outcome.tooSoon = true;
        }
        if (!outcome.count)
            outcome.failure = CurrentErrorMessageOnOneLine();
        if (POP3Main->TcpConnectionIsOpen()) {
            try {
                POP3Main->CloseSession(true);
            } catch (...) {
            }
        }
    }
    return outcome;
}

std::vector<NewMessageHeader> TfrmMain::NewPop3Headers(int32_t count) {
    if (count <= LastMessageCount || !cbNotify.Checked())
        return {};
    const int64_t arrived = int64_t{count} - LastMessageCount;
    try {
        return POP3Main->RetrieveNewHeaders(
            count, static_cast<int32_t>(std::min<int64_t>(arrived, INT32_MAX)), NoticeNamesMost);
    } catch (...) {
        // The exchange may be out of step: no "QUIT" after it.
        try {
            POP3Main->CloseSession(false);
        } catch (...) {
        }
        return {};
    }
}

int32_t TfrmMain::NoticeHeadersWanted(int32_t count) const {
    if (count <= LastMessageCount || !cbNotify.Checked())
        return 0;
    return static_cast<int32_t>(std::min<int64_t>(int64_t{count} - LastMessageCount, NoticeNamesMost));
}

std::vector<NewMessageHeader> TfrmMain::NewImapHeaders(int32_t count, bool examineFirst) {
    if (NoticeHeadersWanted(count) == 0)
        return {};
    try {
        if (examineFirst)
            IMAPMain->ExamineInbox();
        const int64_t arrived = int64_t{count} - LastMessageCount;
        return IMAPMain->RetrieveNewHeaders(
            count, static_cast<int32_t>(std::min<int64_t>(arrived, INT32_MAX)), NoticeNamesMost);
    } catch (...) {
        return {}; // a connection the failure left out of step is closed already
    }
}

// The unseen messages of INBOX. On a server that offers IDLE the connection stays open for the
// watch; elsewhere, and when the watch cannot start, the session ends here.
TfrmMain::CheckOutcome TfrmMain::CheckWithImap() {
    CheckOutcome outcome;
    try {
        ConfigureImapClient();
        ConnectAndSignIn([this](const std::string& token) {
            IMAPMain->SetAccessToken(Utf8ToText(token));
            IMAPMain->ConnectAndLogIn();
        });
        outcome.count = IMAPMain->QueryUnseenCount();
        outcome.newHeaders = NewImapHeaders(*outcome.count, true);
        if (IMAPMain->HasCapability(u"IDLE") && WatchMain->Start())
            return outcome;
        WatchMain->Stop();
        IMAPMain->CloseSession();
    } catch (...) {
        if (!outcome.count)
            outcome.failure = CurrentErrorMessageOnOneLine();
        try {
            IMAPMain->CloseTcpConnection(false);
        } catch (...) {
        }
    }
    return outcome;
}

void TfrmMain::ConfigureImapClient() {
    IMAPMain->SetConnectTimeout(CheckTimeoutMs);
    IMAPMain->SetReadTimeout(CheckTimeoutMs);
    IMAPMain->SetHost(txtPOP3Server.Text());
    IMAPMain->SetUseTLS(UseTLSSetting());
    IMAPMain->SetPort(IntegerFromText(txtPort.Text(), ImapClient::DefaultPort));
    IMAPMain->SetUsername(txtUserName.Text());
    IMAPMain->SetPassword(txtPassword.Text());
}

void TfrmMain::ShowCheckOutcome(const CheckOutcome& outcome) {
    // A failure after the count arrived (while closing) does not make the count stale.
    lastCheckFailed_ = !outcome.count;
    lastCheckError_ = outcome.failure;
    ShowCount(outcome.count.value_or(LastMessageCount), outcome.newHeaders);
}

void TfrmMain::WatchCounted(int32_t count, const std::vector<NewMessageHeader>& newHeaders) {
    ShowCheckOutcome({count, {}, newHeaders});
}

void TfrmMain::ShowCount(int32_t count, const std::vector<NewMessageHeader>& newHeaders) {
    ShowTrayState(count);
    if (count > LastMessageCount) {
        PlayWaveFile(txtPathToSound.Text(), true);
        ShowNewMailNotice(int64_t{count} - LastMessageCount, newHeaders);
    }
    LastMessageCount = count;
}

// After a restart the count grows from 0 and the newest messages may all have been named by a
// notice of an earlier run: the notice then names only those ahead of them, or is not shown.
void TfrmMain::ShowNewMailNotice(int64_t arrived, const std::vector<NewMessageHeader>& newest) {
    if (!cbNotify.Checked())
        return;
    const std::string mailbox = AnnouncedMailboxKey();
    const AnnouncedMessages::Unannounced fresh = announced_.Filter(mailbox, newest);
    if (fresh.upToAnnounced) {
        if (fresh.messages.empty())
            return;
        arrived = static_cast<int64_t>(fresh.messages.size());
    }
    std::vector<std::string> headers;
    for (const NewMessageHeader& message : fresh.messages)
        headers.push_back(message.header);
    const NewMailNoticeText notice = ComposeNewMailNotice(arrived, headers, CurrentUiLanguage());
    TrayIconMain.ShowNotice(notice.summary, notice.body);
    announced_.Remember(mailbox, fresh.messages);
}

std::string TfrmMain::AnnouncedMailboxKey() const {
    return AnnouncedMessages::MailboxKey(Protocol() == mpIMAP ? u"IMAP" : u"POP3", txtUserName.Text(),
                                         txtPOP3Server.Text(), txtPort.Text());
}

// Image and tip from the count. A failed check shows the trouble image and says so instead of a
// count, which would then be one it did not get; the second line gives the reason.
void TfrmMain::ShowTrayState(int32_t count) {
    const TUiLanguage language = CurrentUiLanguage();
    const MailboxTrayState state{u"", count, lastCheckFailed_, lastCheckError_};
    const TraySummary tray =
        SummarizeTray({state}, signInError_.empty() ? u"" : SignInFailedLine(language, signInError_),
                      language, TTrayIcon::MaxHintLength);
    TrayIconMain.SetImageIndex(tray.image);
    TrayIconMain.SetHint(tray.tip);
}

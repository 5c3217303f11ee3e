#include "pop3/Pop3Client.h"

#include <algorithm>
#include <optional>

#include "base/Integers.h"
#include "base/Md5.h"
#include "base/Text.h"
#include "mail/BearerSasl.h"
#include "mail/MailErrors.h"
#include "pop3/Pop3Errors.h"
#include "transport/Messages.h"

namespace {

const std::u16string kOK(TIdReplyPOP3::Pop3ReplyCodes[0]);

// The run-time library's integer conversion: an optional sign, then decimal digits within the
// signed 32-bit range, or hexadecimal digits after "$", "x" or "0x" (any 32-bit pattern, so
// "$FFFFFFFF" is -1). Raises EConvertError "''<text>'' is not a valid integer value".
int32_t StrToInt(std::u16string_view text) {
    if (const std::optional<int32_t> value = TryTextToInt(text))
        return *value;
    throw EConvertError(u"''" + std::u16string(text) + u"'' is not a valid integer value");
}

// The first "<" of the text and the first ">" after it, both included; empty without either.
std::u16string TimestampIn(std::u16string_view text) {
    const size_t open = text.find(u'<');
    if (open == std::u16string_view::npos)
        return {};
    const size_t close = text.find(u'>', open);
    if (close == std::u16string_view::npos)
        return {};
    return std::u16string(text.substr(open, close - open + 1));
}

bool IsAsciiText(std::u16string_view text) {
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

// The blank-separated words of a capability line.
std::vector<std::u16string_view> Words(std::u16string_view line) {
    std::vector<std::u16string_view> words;
    size_t start = 0;
    while (start < line.size()) {
        const size_t end = std::min(line.find(u' ', start), line.size());
        if (end > start)
            words.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

bool FirstWordIs(std::u16string_view line, std::u16string_view word) {
    const std::vector<std::u16string_view> words = Words(line);
    return !words.empty() && SameTextAscii(words.front(), word);
}

// A "UIDL" line: the message number, one blank, the id (printable ASCII, no blank).
std::optional<std::pair<int32_t, std::u16string>> UniqueIdLine(std::u16string_view line) {
    const size_t blank = line.find(u' ');
    if (blank == std::u16string_view::npos || blank + 1 == line.size())
        return std::nullopt;
    const std::optional<int32_t> number = TryTextToInt(line.substr(0, blank));
    const std::u16string_view id = line.substr(blank + 1);
    for (char16_t c : id)
        if (c <= u' ' || c > u'~')
            return std::nullopt;
    if (!number || *number < 1)
        return std::nullopt;
    return std::pair{*number, std::u16string(id)};
}

} // namespace

TIdPOP3::TIdPOP3() : TIdExplicitTLSClient(DefaultPort, DefaultTLSPort) {}

TIdPOP3::~TIdPOP3() = default;

std::unique_ptr<TIdReply> TIdPOP3::CreateReplyRecord() const {
    return std::make_unique<TIdReplyPOP3>();
}

void TIdPOP3::SetMaxCapturedLines(int32_t lines) {
    maxCapturedLines_ = lines;
    if (IOHandler())
        IOHandler()->SetMaxCapturedLines(lines);
}

void TIdPOP3::ConnectAndLogIn() {
    ResetSessionFields();
    PrepareTLS();
    SetDeadline(std::chrono::steady_clock::now() + sessionTimeLimit_);
    try {
        OpenTcpConnection();
    } catch (...) {
        // No session began: its limit must not outlive it.
        ClearDeadline();
        throw;
    }
    IOHandler()->SetMaxCapturedLines(maxCapturedLines_);
    try {
        ReadGreeting();
        QueryServerCapabilities();
        if (autoLogin_) {
            SignIn();
            KeepTlsSession();
            if (loginDelayPerUser_)
                QueryServerCapabilities();
        }
    } catch (...) {
        CloseSession(false);
        throw;
    }
}

void TIdPOP3::ResetSessionFields() {
    apopTimestamp_.clear();
    capabilities_.clear();
    loginDelay_.reset();
    loginDelayPerUser_ = false;
}

void TIdPOP3::ReadGreeting() {
    AwaitReply(kOK, weAscii);
    const std::vector<std::u16string>& text = LastReply().Text();
    apopTimestamp_ = text.empty() ? std::u16string() : TimestampIn(text.front());
}

bool TIdPOP3::QueryServerCapabilities() {
    capabilities_.clear();
    const bool answered = IssueCommand(u"CAPA", {}, weAscii) == kOK;
    if (answered) {
        IOHandler()->ReadDotTerminatedBlock(capabilities_);
        TakeLoginDelay();
    }
    return answered;
}

// "LOGIN-DELAY <seconds>", and "USER" after it when the value depends on the user.
void TIdPOP3::TakeLoginDelay() {
    loginDelayPerUser_ = false;
    for (const std::u16string& line : capabilities_) {
        const std::vector<std::u16string_view> words = Words(line);
        if (words.size() < 2 || !SameTextAscii(words[0], u"LOGIN-DELAY"))
            continue;
        const std::optional<int32_t> seconds = TryTextToInt(words[1]);
        if (!seconds || *seconds < 0 || !std::all_of(words[1].begin(), words[1].end(), IsDigit))
            continue;
        loginDelay_ = std::min(std::chrono::seconds(*seconds), MaxLoginDelay);
        loginDelayPerUser_ = words.size() > 2 && SameTextAscii(words[2], u"USER");
    }
}

bool TIdPOP3::SupportsTLS() {
    for (const std::u16string& line : capabilities_)
        if (SameTextAscii(line, u"STLS"))
            return true;
    return false;
}

void TIdPOP3::StartTLSByCommand() {
    if (!TLSCommandDue())
        return;
    if (IssueCommand(u"STLS", {}, weAscii) != kOK) {
        if (!SupportsTLS())
            throw EIdTLSUnavailable(std::string_view("Server does not offer STLS."));
        const std::vector<std::u16string>& text = LastReply().Text();
        if (text.empty() || text.front().empty())
            throw EIdTLSUnavailable(std::string_view("Server refused STLS."));
        throw EIdTLSUnavailable(u"Server refused STLS: " + text.front());
    }
    StartTLS();
    // What the server said in the clear may have been forged: ask again.
    QueryServerCapabilities();
}

void TIdPOP3::SignIn() {
    StartTLSByCommand();
    switch (authType_) {
    case patUserPass:
        SignInWithUserAndPass();
        break;
    case patAPOP:
        SignInWithApop();
        break;
    case patSASL:
        if (!bearerToken_.empty())
            return SignInWithBearerToken();
        throw EIdSASLMechNeeded(std::string_view("Need SASL mechanisms to login with it!!"));
    }
}

// User name and password go out as UTF-8, which is what servers store today; all-ASCII ones
// give the same bytes as ever.
void TIdPOP3::SignInWithUserAndPass() {
    AnnounceUtf8();
    IssueCommand(u"USER " + username_, kOK, weUtf8);
    const SignInWait wait(*this);
    IssueCommand(u"PASS " + password_, kOK, weUtf8);
}

void TIdPOP3::SignInWithApop() {
    if (apopTimestamp_.empty())
        throw EIdDoesNotSupportAPOP(std::string_view("Server do not support APOP (no timestamp)"));
    AnnounceUtf8();
    const SignInWait wait(*this);
    IssueCommand(u"APOP " + username_ + u" " + ApopDigest(apopTimestamp_, password_), kOK, weUtf8);
}

// Tells a server that offers it that the credentials to come are UTF-8. Only for credentials
// beyond ASCII; a refusal changes nothing, the sign-in goes on.
void TIdPOP3::AnnounceUtf8() {
    if (IsAsciiText(username_) && IsAsciiText(password_))
        return;
    const bool offered = std::any_of(capabilities_.begin(), capabilities_.end(),
                                     [](const std::u16string& line) { return FirstWordIs(line, u"UTF8"); });
    if (offered)
        IssueCommand(u"UTF8", {}, weAscii);
}

std::vector<std::u16string> TIdPOP3::SaslMechanisms() const {
    std::vector<std::u16string> mechanisms;
    for (const std::u16string& line : capabilities_) {
        if (line.size() < 4 || !SameTextAscii(std::u16string_view(line).substr(0, 4), u"SASL"))
            continue;
        for (const std::u16string_view mechanism : Words(std::u16string_view(line).substr(4)))
            mechanisms.emplace_back(mechanism);
    }
    return mechanisms;
}

void TIdPOP3::SignInWithBearerToken() {
    const BearerMechanism mechanism = ChooseBearerMechanism(SaslMechanisms());
    const std::u16string response = BearerInitialResponse(mechanism, username_, Host(), Port(), bearerToken_);
    const SignInWait wait(*this);
    IssueCommand(u"AUTH " + BearerMechanismName(mechanism), u"+", weAscii);
    const std::u16string code = IssueCommand(response, {}, weAscii);
    if (code == kOK)
        return;
    // The server could not check the token just now, or would not sign in anyone just now (too
    // soon after the last sign-in, the mailbox in use): no verdict on the token itself.
    const std::u16string& enhanced = LastReply().EnhancedCode();
    if (enhanced == u"[SYS/TEMP]" || enhanced == u"[LOGIN-DELAY]" || enhanced == u"[IN-USE]")
        LastReply().RaiseReplyFailure();
    std::u16string challenge;
    if (code == u"+") {
        // The failure challenge: the server sends its refusal once the client gives up.
        const std::vector<std::u16string>& text = LastReply().Text();
        challenge = DecodeBearerChallenge(text.empty() ? std::u16string() : text.front());
        IssueCommand(u"", {}, weAscii);
    }
    const std::vector<std::u16string>& text = LastReply().Text();
    const std::u16string refusal =
        text.empty() || text.front().empty() ? u"Access token refused." : text.front();
    throw EBearerTokenRejected(refusal, challenge);
}

int32_t TIdPOP3::QueryMessageCount() {
    IssueCommand(u"STAT", kOK, weAscii);
    const std::vector<std::u16string>& text = LastReply().Text();
    const std::u16string_view counts = text.empty() ? std::u16string_view() : text.front();
    if (counts.empty())
        return 0;
    // The count is the word before the first space; a reply without a space (count but no
    // size), or with a space first, has no such word and is refused.
    const size_t space = counts.find(u' ');
    const std::u16string_view word =
        space == std::u16string_view::npos ? std::u16string_view() : counts.substr(0, space);
    return StrToInt(TrimControlAndBlanks(word));
}

void TIdPOP3::CloseSession(bool notifyPeer) {
    try {
        CloseTcpConnection(notifyPeer);
    } catch (...) {
        ClearDeadline();
        throw;
    }
    ClearDeadline();
}

void TIdPOP3::SendQuit() {
    IssueCommand(u"QUIT", kOK, weAscii);
}

std::optional<std::vector<std::pair<int32_t, std::u16string>>> TIdPOP3::QueryUniqueIds() {
    if (IssueCommand(u"UIDL", {}, weAscii) != kOK)
        return std::nullopt;
    std::vector<std::u16string> lines;
    IOHandler()->ReadDotTerminatedBlock(lines, u".", true, weAscii);
    std::vector<std::pair<int32_t, std::u16string>> ids;
    for (const std::u16string& line : lines)
        if (std::optional<std::pair<int32_t, std::u16string>> id = UniqueIdLine(line))
            ids.push_back(std::move(*id));
    return ids;
}

std::optional<std::string> TIdPOP3::RetrieveHeader(int32_t number) {
    if (IssueCommand(u"TOP " + IntToText(number) + u" 0", {}, weAscii) != kOK)
        return std::nullopt;
    // A line beyond the line length comes in pieces, so that the answer is still read to its
    // end and the session stays in step; such a header is not used.
    const TIdMaxLineAction kept = IOHandler()->MaxLineAction();
    IOHandler()->SetMaxLineAction(maSplit);
    try {
        std::string header = ReadHeaderLines();
        IOHandler()->SetMaxLineAction(kept);
        return header;
    } catch (...) {
        IOHandler()->SetMaxLineAction(kept);
        throw;
    }
}

// Line by line, so a header past the limit costs no memory beyond it.
std::string TIdPOP3::ReadHeaderLines() {
    std::string header;
    bool whole = true;
    bool continued = false; // the piece before was cut at the line length
    for (int32_t lines = 0;; ++lines) {
        std::u16string line = IOHandler()->ReadLine(weRaw8);
        if (IOHandler()->LineTimedOut())
            throw EIdReadTimeout(RSReadTimeout);
        if (line == u"." && !continued)
            return whole ? header : std::string();
        if (maxCapturedLines_ > 0 && lines >= maxCapturedLines_)
            throw EIdMaxCaptureLineExceeded(RSMaximumNumberOfCaptureLineExceeded);
        const bool cut = IOHandler()->LineSplit();
        whole = whole && !cut;
        const size_t from = !continued && line.starts_with(u"..") ? 1 : 0;
        continued = cut;
        for (size_t i = from; i < line.size() && header.size() < HeaderByteLimit; ++i)
            header += static_cast<char>(line[i]);
        if (!cut && header.size() + 2 <= HeaderByteLimit)
            header += "\r\n";
    }
}

std::vector<NewMessageHeader> TIdPOP3::RetrieveNewHeaders(int32_t count, int32_t arrived, int32_t most) {
    std::vector<std::pair<int32_t, std::u16string>> newest; // message numbers and ids, newest first
    const int32_t wanted = std::min(arrived, most);
    if (auto ids = QueryUniqueIds()) {
        // Messages beyond STAT's count came after it: neither counted nor listed, nor seen yet.
        std::erase_if(*ids, [count](const auto& id) { return id.first > count; });
        for (auto id = ids->rbegin(); id != ids->rend() && static_cast<int32_t>(newest.size()) < wanted; ++id)
            if (!seenUniqueIds_.contains(id->second))
                newest.push_back(*id);
        seenUniqueIds_.clear();
        for (const auto& [number, id] : *ids)
            seenUniqueIds_.insert(id);
    } else {
        for (int32_t number = count; number > 0 && number > count - wanted; --number)
            newest.emplace_back(number, u"");
    }
    std::vector<NewMessageHeader> headers;
    bool anyAnswered = false;
    for (const auto& [number, id] : newest) {
        std::optional<std::string> header = RetrieveHeader(number);
        // The first refusal means the server has no TOP; a later one spares that message only.
        if (!header && !anyAnswered)
            break;
        anyAnswered = true;
        if (header && !header->empty())
            headers.push_back({TextToUtf8(id), std::move(*header)});
    }
    return headers;
}

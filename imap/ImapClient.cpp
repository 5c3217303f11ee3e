#include "imap/ImapClient.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "base/Integers.h"
#include "base/Text.h"
#include "imap/ImapErrors.h"
#include "mail/BearerSasl.h"
#include "mail/MailErrors.h"
#include "transport/Messages.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often a count is taken again when the mailbox changed while the server counted.
constexpr int kCountRounds = 3;

bool SameAsciiIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameAsciiIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool IsNumber(const ImapToken& token) {
    return token.kind == ImapToken::kAtom && !token.text.empty() &&
           token.text.find_first_not_of("0123456789") == std::string::npos;
}

// A UID the server sent: decimal digits within 32 bits unsigned.
std::optional<uint32_t> ParseUid(const ImapToken& token) {
    if (!IsNumber(token) || token.text.size() > 10)
        return std::nullopt;
    const unsigned long long value = std::stoull(token.text);
    return value <= UINT32_MAX ? std::optional<uint32_t>(static_cast<uint32_t>(value)) : std::nullopt;
}

// A count the server sent: decimal digits within the signed 32-bit range.
int32_t ParseCount(const ImapToken& token) {
    if (IsNumber(token) && token.text.size() <= 10) {
        if (const std::optional<int32_t> value = TryTextToInt(AsciiToText(token.text)); value && *value >= 0)
            return *value;
    }
    throw ImapProtocolError(u"The server sent no valid count: " + Utf8ToText(token.text));
}

bool NeedsLiteral(std::string_view bytes) {
    return std::any_of(bytes.begin(), bytes.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte >= 0x7F;
    });
}

} // namespace

ImapClient::ImapClient() : TIdExplicitTLSClient(DefaultPort, DefaultTLSPort) {}

ImapClient::~ImapClient() = default;

void ImapClient::ResetSession() {
    nextTag_ = 1;
    capabilities_.clear();
    capabilitiesLearnt_ = false;
    preauthenticated_ = false;
    loggingOut_ = false;
    idling_ = false;
    idleTag_.clear();
    awaitedTag_.clear();
    awaitingContinuation_ = false;
    replyDeadline_.reset();
    mailboxChanged_ = false;
    statusUnseen_ = -1;
    searchCount_ = -1;
    searchingUids_ = false;
    fetchingHeaders_ = false;
}

void ImapClient::ConnectAndLogIn() {
    ResetSession();
    PrepareTLS();
    SetDeadline(Clock::now() + sessionTimeLimit_);
    try {
        OpenTcpConnection();
    } catch (...) {
        // No session began: its limit must not outlive it.
        ClearDeadline();
        throw;
    }
    IOHandler()->SetMaxLineLength(MaxLineLength);
    try {
        ReadGreeting();
        if (!capabilitiesLearnt_)
            RunCommand("CAPABILITY");
        StartTlsByCommand();
        if (!preauthenticated_)
            SignIn();
        KeepTlsSession();
    } catch (...) {
        CloseTcpConnection(false);
        ClearDeadline();
        throw;
    }
}

void ImapClient::ReadGreeting() {
    const ImapResponse greeting = ReadResponse();
    if (greeting.kind != ImapResponse::kUntagged)
        throw ImapProtocolError(u"The server's greeting is no IMAP greeting: " + Utf8ToText(greeting.text));
    HandleUntagged(greeting); // a "BYE" raises here
    const std::string keyword = greeting.Keyword();
    if (keyword == "PREAUTH")
        preauthenticated_ = true;
    else if (keyword != "OK")
        throw ImapProtocolError(u"The server's greeting is no IMAP greeting: " + Utf8ToText(greeting.text));
}

void ImapClient::StartTlsByCommand() {
    if (!TLSCommandDue())
        return;
    try {
        RunCommand("STARTTLS");
    } catch (const ImapReplyError& refusal) {
        if (refusal.Status() == u"BYE")
            throw;
        if (!SupportsTLS())
            throw EIdTLSUnavailable(std::string_view("Server does not offer STARTTLS."));
        throw EIdTLSUnavailable(u"Server refused STARTTLS: " + refusal.Message());
    }
    // The handshake drops what came after the OK: it came in the clear and may be forged, as
    // may the capabilities the server listed before.
    StartTLS();
    capabilities_.clear();
    RunCommand("CAPABILITY");
}

void ImapClient::SignIn() {
    {
        const SignInWait wait(*this);
        if (!accessToken_.empty())
            Authenticate();
        else
            LogInWithPassword();
    }
    // A server may offer more once signed in (IDLE, ESEARCH); most say so in the OK.
    if (!capabilitiesLearnt_) {
        capabilities_.clear();
        RunCommand("CAPABILITY");
    }
}

void ImapClient::LogInWithPassword() {
    if (HasCapability(u"LOGINDISABLED"))
        throw ImapProtocolError(
            std::string_view("The server does not allow LOGIN on this connection (LOGINDISABLED)."));
    capabilitiesLearnt_ = false;
    RunCommand({{"LOGIN "}, AString(TextToUtf8(username_)), {" "}, AString(TextToUtf8(password_))});
}

void ImapClient::Authenticate() {
    std::vector<std::u16string> mechanisms;
    for (const std::string& capability : capabilities_) {
        if (StartsWithIgnoringCase(capability, "AUTH="))
            mechanisms.push_back(Utf8ToText(capability.substr(5)));
    }
    const BearerMechanism mechanism = ChooseBearerMechanism(mechanisms);
    const std::string response =
        TextToUtf8(BearerInitialResponse(mechanism, username_, Host(), Port(), TextToUtf8(accessToken_)));
    const std::string command = NextTag() + " AUTHENTICATE " + TextToUtf8(BearerMechanismName(mechanism));
    const std::string tag = command.substr(0, command.find(' '));
    untaggedInCommand_ = 0;
    capabilitiesLearnt_ = false;
    if (HasCapability(u"SASL-IR")) {
        WriteBytes(command + " " + response + "\r\n");
    } else {
        WriteBytes(command + "\r\n");
        AwaitContinuation();
        WriteBytes(response + "\r\n");
    }
    // A refused token comes back as a challenge first, answered with an empty line.
    std::u16string challenge;
    try {
        AwaitTagged(tag, [&](const ImapResponse& failure) {
            challenge = DecodeBearerChallenge(Utf8ToText(failure.text));
            WriteBytes("\r\n");
        });
    } catch (const ImapReplyError& refusal) {
        if (refusal.Status() != u"NO")
            throw;
        throw EBearerTokenRejected(refusal.Message(), challenge);
    }
}

ImapClient::CommandPart ImapClient::AString(std::string_view bytes) {
    if (NeedsLiteral(bytes))
        return {std::string(bytes), true};
    std::string quoted = "\"";
    for (char c : bytes) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return {quoted + "\"", false};
}

int32_t ImapClient::QueryUnseenCount() {
    statusUnseen_ = -1;
    RunCommand("STATUS INBOX (UNSEEN)");
    if (statusUnseen_ < 0)
        throw ImapProtocolError(std::string_view("The server's STATUS reply holds no UNSEEN count."));
    return statusUnseen_;
}

bool ImapClient::HasCapability(std::u16string_view name) const {
    const std::string wanted = TextToUtf8(name);
    return std::any_of(capabilities_.begin(), capabilities_.end(), [&](const std::string& capability) {
        return SameAsciiIgnoringCase(capability, wanted);
    });
}

void ImapClient::ExamineInbox() {
    uidValidity_.clear();
    RunCommand("EXAMINE INBOX");
    mailboxChanged_ = false;
}

int32_t ImapClient::CountUnseenInSelected() {
    for (int32_t round = 1;; ++round) {
        RunCommand(UnseenSearchCommand());
        if (const std::optional<int32_t> count = UnseenSearchCount(round))
            return *count;
    }
}

std::string ImapClient::UnseenSearchCommand() {
    mailboxChanged_ = false;
    searchCount_ = -1;
    return HasCapability(u"ESEARCH") ? "SEARCH RETURN (COUNT) UNSEEN" : "SEARCH UNSEEN";
}

std::optional<int32_t> ImapClient::UnseenSearchCount(int32_t round) {
    if (searchCount_ < 0)
        throw ImapProtocolError(std::string_view("The server's SEARCH reply holds no count."));
    // A message that arrived while the server searched is not in the count.
    if (mailboxChanged_ && round < kCountRounds)
        return std::nullopt;
    return searchCount_;
}

void ImapClient::StartIdle() {
    RequireConnection();
    untaggedInCommand_ = 0;
    idleTag_ = NextTag();
    WriteBytes(idleTag_ + " IDLE\r\n");
    for (;;) {
        const ImapResponse response = ReadResponse();
        if (response.kind == ImapResponse::kUntagged) {
            HandleUntagged(response);
        } else if (response.kind == ImapResponse::kContinuation) {
            idling_ = true;
            // An idle connection waits as long as its caller wants.
            ClearDeadline();
            return;
        } else if (response.tag != idleTag_) {
            CloseAndRaise(
                ImapProtocolError(u"The server replied with an unknown tag: " + Utf8ToText(response.tag)));
        } else if (response.Keyword() == "OK") {
            throw ImapProtocolError(std::string_view("The server ended IDLE before it began."));
        } else {
            RaiseRefusal(response);
        }
    }
}

bool ImapClient::PollIdle(int32_t waitMs) {
    RequireConnection();
    if (waitMs > 0 && !MoreArrived())
        IOHandler()->FillInputBuffer(true, waitMs, false);
    TakeArrived();
    return std::exchange(mailboxChanged_, false);
}

bool ImapClient::SendDone() {
    replyDeadline_ = Clock::now() + sessionTimeLimit_;
    if (!idling_)
        return false;
    idling_ = false;
    untaggedInCommand_ = 0;
    awaitedTag_ = idleTag_;
    WriteBytes("DONE\r\n");
    return true;
}

void ImapClient::SendCommand(std::string_view command) {
    RequireConnection();
    untaggedInCommand_ = 0;
    awaitedTag_ = NextTag();
    WriteBytes(awaitedTag_ + " " + std::string(command) + "\r\n");
}

void ImapClient::SendIdle() {
    SendCommand("IDLE");
    idleTag_ = awaitedTag_;
    awaitingContinuation_ = true;
}

bool ImapClient::TakeArrived() {
    RequireConnection();
    ReadWithoutWaiting();
    TIdIOHandler& io = *IOHandler();
    for (int32_t handled = 0; handled < MaxUntaggedResponses; ++handled) {
        if (!ImapReplyReader::DropLeadingBlankLines(io) || !reader_.ResponseQueued(io))
            break;
        if (TakeWatchedResponse(ReadResponse()))
            return true;
    }
    CheckReplyDeadline();
    if ((io.PeerClosed() || !io.HandlerOpen()) && !reader_.ResponseQueued(io))
        CloseAndRaise(EIdConnClosedGracefully(RSConnectionClosedGracefully));
    return false;
}

bool ImapClient::MoreArrived() {
    TIdIOHandler& io = *IOHandler();
    if (reader_.ResponseQueued(io) || io.PeerClosed() || !io.HandlerOpen())
        return true;
    return io.FillInputBuffer(false, 0, false) > 0 || io.PeerClosed();
}

void ImapClient::ReadWithoutWaiting() {
    TIdIOHandler& io = *IOHandler();
    const int32_t before = io.InputQueue().Size();
    while (io.InputQueue().Size() - before < ReadBudget && !io.PeerClosed() &&
           io.FillInputBuffer(false, 0, false) > 0) {
    }
}

bool ImapClient::TakeWatchedResponse(const ImapResponse& response) {
    if (idling_ || awaitedTag_.empty())
        untaggedInCommand_ = 0;
    if (response.kind == ImapResponse::kUntagged) {
        HandleUntagged(response);
        return false;
    }
    if (response.kind == ImapResponse::kContinuation) {
        if (!awaitingContinuation_)
            CloseAndRaise(ImapProtocolError(u"Unexpected continuation request: " + response.HumanText()));
        awaitingContinuation_ = false;
        awaitedTag_.clear();
        idling_ = true;
        replyDeadline_.reset();
        return true;
    }
    if (idling_ && response.tag == idleTag_) {
        // The server ended the IDLE itself: the caller counts again and idles anew.
        idling_ = false;
        if (response.Keyword() != "OK")
            RaiseRefusal(response);
        mailboxChanged_ = true;
        return false;
    }
    if (response.tag != awaitedTag_ || awaitedTag_.empty())
        CloseAndRaise(
            ImapProtocolError(u"The server replied with an unknown tag: " + Utf8ToText(response.tag)));
    const bool wasIdle = std::exchange(awaitingContinuation_, false);
    awaitedTag_.clear();
    if (response.Keyword() != "OK")
        RaiseRefusal(response);
    if (wasIdle)
        CloseAndRaise(ImapProtocolError(std::string_view("The server ended IDLE before it began.")));
    return true;
}

// During IDLE the limit runs from the first bytes of a response to its end.
void ImapClient::CheckReplyDeadline() {
    if (idling_) {
        if (!ImapReplyReader::DropLeadingBlankLines(*IOHandler()))
            replyDeadline_.reset();
        else if (!replyDeadline_)
            replyDeadline_ = Clock::now() + sessionTimeLimit_;
    }
    if (replyDeadline_ && Clock::now() >= *replyDeadline_)
        CloseAndRaise(EIdReadTimeout(RSReadTimeout));
}

void ImapClient::StopIdle() {
    if (!idling_)
        return;
    SetDeadline(Clock::now() + sessionTimeLimit_);
    idling_ = false;
    untaggedInCommand_ = 0;
    WriteBytes("DONE\r\n");
    AwaitTagged(idleTag_);
}

void ImapClient::CloseSession() {
    try {
        CloseTcpConnection(true);
    } catch (...) {
        idling_ = false;
        ClearDeadline();
        throw;
    }
    idling_ = false;
    ClearDeadline();
}

void ImapClient::NotifyPeerBeforeClose() {
    StopIdle();
    loggingOut_ = true;
    try {
        RunCommand("LOGOUT");
    } catch (...) {
        loggingOut_ = false;
        throw;
    }
    loggingOut_ = false;
}

// ---- The exchange ----

std::string ImapClient::NextTag() {
    return "A" + std::to_string(nextTag_++);
}

ImapResponse ImapClient::ReadResponse() {
    RequireConnection();
    try {
        return reader_.Read(*IOHandler());
    } catch (...) {
        // A reply broken off (time-out, oversized literal, flood) leaves the stream out of step:
        // nothing more can be said on this connection.
        idling_ = false;
        CloseTcpConnection(false);
        throw;
    }
}

void ImapClient::WriteBytes(const std::string& bytes) {
    IOHandler()->WriteBytes(TIdBytes(bytes.begin(), bytes.end()));
}

ImapResponse ImapClient::RunCommand(const std::vector<CommandPart>& parts) {
    RequireConnection();
    untaggedInCommand_ = 0;
    const std::string tag = NextTag();
    const bool nonSynchronizing = HasCapability(u"LITERAL+");
    std::string pending = tag + " ";
    for (const CommandPart& part : parts) {
        if (!part.literal) {
            pending += part.bytes;
            continue;
        }
        const std::string size = std::to_string(part.bytes.size());
        if (nonSynchronizing) {
            pending += "{" + size + "+}\r\n" + part.bytes;
            continue;
        }
        // A synchronizing literal: the server says when it takes the bytes.
        WriteBytes(pending + "{" + size + "}\r\n");
        AwaitContinuation();
        pending = part.bytes;
    }
    WriteBytes(pending + "\r\n");
    return AwaitTagged(tag);
}

void ImapClient::AwaitContinuation() {
    for (;;) {
        const ImapResponse response = ReadResponse();
        if (response.kind == ImapResponse::kContinuation)
            return;
        if (response.kind == ImapResponse::kUntagged)
            HandleUntagged(response);
        else if (response.Keyword() == "OK")
            throw ImapProtocolError(u"The server did not take a literal: " + Utf8ToText(response.text));
        else
            RaiseRefusal(response);
    }
}

ImapResponse ImapClient::AwaitTagged(const std::string& tag, const ContinuationHandler& onContinuation) {
    bool continued = false;
    for (;;) {
        ImapResponse response = ReadResponse();
        if (response.kind == ImapResponse::kUntagged) {
            HandleUntagged(response);
            continue;
        }
        if (response.kind == ImapResponse::kContinuation && onContinuation && !continued) {
            continued = true;
            onContinuation(response);
            continue;
        }
        if (response.kind == ImapResponse::kContinuation)
            CloseAndRaise(ImapProtocolError(u"Unexpected continuation request: " + response.HumanText()));
        if (response.tag != tag)
            CloseAndRaise(
                ImapProtocolError(u"The server replied with an unknown tag: " + Utf8ToText(response.tag)));
        const std::string code = response.ResponseCode();
        if (StartsWithIgnoringCase(code, "CAPABILITY "))
            TakeCapabilities(std::string_view(code).substr(11));
        if (response.Keyword() != "OK")
            RaiseRefusal(response);
        return response;
    }
}

void ImapClient::HandleUntagged(const ImapResponse& response) {
    if (++untaggedInCommand_ > MaxUntaggedResponses)
        CloseAndRaise(EIdMaxCaptureLineExceeded(RSMaximumNumberOfCaptureLineExceeded));
    const std::string keyword = response.Keyword();
    if (keyword == "BYE") {
        if (!loggingOut_)
            CloseAfterBye(response);
    } else if (keyword == "CAPABILITY") {
        TakeCapabilities(std::string_view(response.text).substr(std::min<size_t>(11, response.text.size())));
    } else if (keyword == "OK" || keyword == "NO" || keyword == "BAD" || keyword == "PREAUTH") {
        const std::string code = response.ResponseCode();
        if (StartsWithIgnoringCase(code, "CAPABILITY "))
            TakeCapabilities(std::string_view(code).substr(11));
        else if (StartsWithIgnoringCase(code, "UIDVALIDITY "))
            TakeUidValidity(code.substr(12));
    } else if (keyword == "STATUS") {
        TakeStatus(response.Tokens());
    } else if (keyword == "SEARCH" || keyword == "ESEARCH") {
        TakeSearch(response.Tokens(), keyword == "ESEARCH");
    } else if (keyword == "FETCH" && fetchingHeaders_ && TakeFetchedHeader(response.Tokens())) {
        // The answer to our own fetch, not a change of the mailbox.
    } else if (keyword == "EXISTS" || keyword == "EXPUNGE" || keyword == "FETCH") {
        mailboxChanged_ = true;
    }
}

void ImapClient::TakeCapabilities(std::string_view list) {
    capabilities_.clear();
    for (const ImapToken& token : TokenizeImap(list))
        capabilities_.push_back(token.text);
    capabilitiesLearnt_ = true;
}

// "STATUS" mailbox "(" name value ... ")": the UNSEEN value when the mailbox is INBOX.
void ImapClient::TakeStatus(const std::vector<ImapToken>& tokens) {
    if (tokens.size() < 3 || !SameAsciiIgnoringCase(tokens[1].text, "INBOX") ||
        tokens[2].kind != ImapToken::kOpen)
        return;
    for (size_t i = 3; i + 1 < tokens.size() && tokens[i].kind != ImapToken::kClose; i += 2) {
        if (SameAsciiIgnoringCase(tokens[i].text, "UNSEEN"))
            statusUnseen_ = ParseCount(tokens[i + 1]);
    }
}

// "SEARCH" and the numbers of the messages found, or "ESEARCH" with its "COUNT" value (none
// when nothing was found).
void ImapClient::TakeSearch(const std::vector<ImapToken>& tokens, bool extended) {
    int32_t count = std::max(searchCount_, 0);
    if (!extended) {
        count += static_cast<int32_t>(std::count_if(tokens.begin() + 1, tokens.end(), IsNumber));
        for (auto token = tokens.begin() + 1; searchingUids_ && token != tokens.end(); ++token)
            if (const std::optional<uint32_t> uid = ParseUid(*token))
                searchUids_.push_back(*uid);
    } else {
        for (size_t i = 1; i + 1 < tokens.size(); ++i) {
            if (tokens[i].kind == ImapToken::kAtom && SameAsciiIgnoringCase(tokens[i].text, "COUNT"))
                count = ParseCount(tokens[i + 1]);
        }
    }
    searchCount_ = count;
}

// Digits only, or it names nothing for good.
void ImapClient::TakeUidValidity(const std::string& value) {
    const bool digits = !value.empty() && value.size() <= 10 &&
                        std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    uidValidity_ = digits ? value : std::string();
}

// "<n> FETCH (UID <uid> BODY[HEADER.FIELDS (FROM SUBJECT)] <bytes>)", its items in any order.
bool ImapClient::TakeFetchedHeader(const std::vector<ImapToken>& tokens) {
    std::optional<uint32_t> uid;
    const std::string* header = nullptr;
    for (size_t i = 3; i + 1 < tokens.size(); ++i) {
        if (tokens[i].kind != ImapToken::kAtom)
            continue;
        if (SameAsciiIgnoringCase(tokens[i].text, "UID"))
            uid = ParseUid(tokens[i + 1]);
        else if (StartsWithIgnoringCase(tokens[i].text, "BODY[") && tokens[i + 1].kind == ImapToken::kString)
            header = &tokens[i + 1].text;
    }
    if (!uid || !header)
        return false;
    fetchedHeaders_[*uid] = header->substr(0, HeaderByteLimit);
    return true;
}

std::vector<NewMessageHeader> ImapClient::RetrieveNewHeaders(int32_t count, int32_t arrived, int32_t most) {
    try {
        RunCommand(NewHeadersSearchCommand());
        if (const std::optional<std::string> fetch = NewHeadersFetchCommand(count, arrived, most))
            RunCommand(*fetch);
    } catch (...) {
        FetchedNewHeaders();
        throw;
    }
    return FetchedNewHeaders();
}

std::string ImapClient::NewHeadersSearchCommand() {
    searchUids_.clear();
    newestUids_.clear();
    fetchedHeaders_.clear();
    searchingUids_ = true;
    return "UID SEARCH UNSEEN";
}

std::optional<std::string> ImapClient::NewHeadersFetchCommand(int32_t count, int32_t arrived, int32_t most) {
    searchingUids_ = false;
    std::vector<uint32_t> uids = std::move(searchUids_);
    searchUids_.clear();
    std::sort(uids.begin(), uids.end());
    // UIDs grow with arrival: those beyond the count came after it, and wait for the next count.
    uids.resize(std::min(uids.size(), static_cast<size_t>(std::max(count, 0))));
    const int32_t wanted = std::min(arrived, most);
    for (auto uid = uids.rbegin(); uid != uids.rend() && static_cast<int32_t>(newestUids_.size()) < wanted;
         ++uid)
        if (!seenUnseenUids_.contains(*uid))
            newestUids_.push_back(*uid);
    seenUnseenUids_ = std::set<uint32_t>(uids.begin(), uids.end());
    if (newestUids_.empty())
        return std::nullopt;
    std::string set;
    for (uint32_t uid : newestUids_)
        set += (set.empty() ? "" : ",") + std::to_string(uid);
    fetchingHeaders_ = true;
    return "UID FETCH " + set + " (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)]<0." +
           std::to_string(HeaderByteLimit) + ">)";
}

std::vector<NewMessageHeader> ImapClient::FetchedNewHeaders() {
    searchingUids_ = false;
    fetchingHeaders_ = false;
    std::vector<NewMessageHeader> headers;
    for (uint32_t uid : newestUids_)
        if (auto fetched = fetchedHeaders_.find(uid); fetched != fetchedHeaders_.end())
            headers.push_back({uidValidity_.empty() ? "" : uidValidity_ + "/" + std::to_string(uid),
                               std::move(fetched->second)});
    newestUids_.clear();
    fetchedHeaders_.clear();
    return headers;
}

template <class Error> void ImapClient::CloseAndRaise(const Error& error) {
    idling_ = false;
    CloseTcpConnection(false);
    throw error;
}

void ImapClient::CloseAfterBye(const ImapResponse& response) {
    try {
        RaiseRefusal(response);
    } catch (const ImapReplyError& bye) {
        CloseAndRaise(bye);
    }
}

void ImapClient::RaiseRefusal(const ImapResponse& response) {
    const std::u16string status = Utf8ToText(response.Keyword());
    const std::u16string text = response.HumanText();
    throw ImapReplyError(status, Utf8ToText(response.ResponseCode()), text.empty() ? status : text);
}

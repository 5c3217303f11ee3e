#pragma once
// The IMAP client (RFC 9051 and RFC 3501 servers) as the mail check and the mailbox watch drive
// it: connect, read the greeting, learn the capabilities, sign in, count the unseen messages of
// INBOX, and, for the watch, wait in IDLE on INBOX opened read-only.
//
//     client.SetHost(u"mail.example.org");
//     client.SetUsername(u"u");
//     client.SetPassword(u"p");
//     client.ConnectAndLogIn();
//     const int32_t unseen = client.QueryUnseenCount();
//     client.CloseSession();
//
// With UseTLS the session runs over TLS: from the connect on (utUseImplicitTLS, port 993 by
// default), or after "STARTTLS" on the regular port 143 (utUseRequireTLS; utUseExplicitTLS when
// the server lists STARTTLS), after which the capabilities are asked for again.
//
// Every exchange outside IDLE runs within SessionTimeLimit, counted from ConnectAndLogIn and
// again from each StopIdle or SendDone, and so does every response that begins during IDLE: a
// server that keeps every single wait short cannot hold the caller.
// Commands are tagged "A1", "A2"... afresh in every session.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "imap/ImapReply.h"
#include "mail/ExplicitTlsClient.h"
#include "mail/NewMessageHeader.h"

class ImapClient : public TIdExplicitTLSClient {
public:
    static constexpr uint16_t DefaultPort = 143;
    static constexpr uint16_t DefaultTLSPort = 993;
    static constexpr std::chrono::milliseconds DefaultSessionTimeLimit{40000};
    // The longest line taken from the server: a SEARCH reply lists every unseen message.
    static constexpr int32_t MaxLineLength = 1 << 20;
    // The most untagged responses one command may bring, and one TakeArrived handles.
    static constexpr int32_t MaxUntaggedResponses = 10000;
    // The most bytes one TakeArrived reads, so that a server that floods cannot hold its caller.
    static constexpr int32_t ReadBudget = 1 << 20;
    // The most header bytes kept of one message.
    static constexpr size_t HeaderByteLimit = 16384;

    ImapClient();
    ~ImapClient() override;

    void SetUsername(const std::u16string& name) { username_ = name; }
    void SetPassword(const std::u16string& password) { password_ = password; }
    // With a token set, signs in with AUTHENTICATE XOAUTH2 (or OAUTHBEARER when only that is
    // offered, the first response on the command line when SASL-IR is offered) instead of LOGIN.
    // An empty token means LOGIN.
    void SetAccessToken(const std::u16string& token) { accessToken_ = token; }
    std::chrono::milliseconds SessionTimeLimit() const { return sessionTimeLimit_; }
    void SetSessionTimeLimit(std::chrono::milliseconds limit) { sessionTimeLimit_ = limit; }
    ImapReplyReader& ReplyReader() { return reader_; }

    // Opens the connection (with utUseImplicitTLS, TLS at once), reads the greeting ("* OK", or
    // "* PREAUTH" which needs no sign-in), asks "CAPABILITY" when the greeting did not list
    // them, negotiates "STARTTLS" when due, and signs in: "LOGIN" with the user name and password
    // as quoted strings, or as literals when their bytes need it, or "AUTHENTICATE" with the
    // access token (their answers may take up to SignInReplyTimeout). Raises what
    // OpenTcpConnection raises (nothing exchanged); after the connect every failure closes the
    // connection without "LOGOUT" and is passed on: ImapReplyError with the server's text for a
    // refusal or a "BYE", EIdTLSUnavailable when STARTTLS is required but refused,
    // EBearerTokenRejected when the server refuses the access token (with
    // its decoded challenge), EBearerSaslBadValue for a token or name it cannot carry,
    // ImapProtocolError when the server forbids LOGIN (LOGINDISABLED, the
    // password is not sent) or replies out of turn, EIdReadTimeout "Read timed out." for a
    // silent server or once SessionTimeLimit has passed, and the reader's errors.
    void ConnectAndLogIn();
    // "STATUS INBOX (UNSEEN)": the number of unseen messages in INBOX. Raises ImapReplyError
    // when refused, ImapProtocolError when no usable count came, and the read errors. Here and
    // in every exchange, a reply that leaves the stream out of step (a time-out, a literal
    // beyond the limit, more than MaxUntaggedResponses untagged responses, an unknown tag, a
    // "BYE") closes the connection before the error is raised; a refusal leaves it open.
    int32_t QueryUnseenCount();
    // Whether the server's last capability list names it (letter case ignored), e.g. u"IDLE".
    bool HasCapability(std::u16string_view name) const;
    // "EXAMINE INBOX": selects INBOX read-only, so that nothing here changes a flag.
    void ExamineInbox();
    // The unseen messages of the selected mailbox: "SEARCH RETURN (COUNT) UNSEEN" when the
    // server offers ESEARCH, else "SEARCH UNSEEN". Counted again (a few times at most) when the
    // mailbox changed while the server answered. Raises as QueryUnseenCount does.
    int32_t CountUnseenInSelected();
    // "IDLE", then waits for the server's continuation; the session limit is lifted while idling.
    // Raises ImapReplyError when refused, ImapProtocolError when the server answers OK at once,
    // and the read errors (a server that never continues runs into the read time-out).
    void StartIdle();
    // "DONE", then the IDLE's tagged OK, within a fresh SessionTimeLimit. Nothing when the server
    // already ended the IDLE. Raises ImapReplyError when refused and the read errors.
    void StopIdle();
    bool Idling() const { return idling_; }
    // In the selected mailbox: the From and Subject header lines (as the server sends them, at
    // most HeaderByteLimit bytes each) of up to `most` of the `arrived` newest unseen messages
    // that the previous call did not see, newest first, each with "<UIDVALIDITY>/<UID>" as its
    // id (none where the mailbox announced no UIDVALIDITY), among the `count` unseen ones counted
    // before (the lowest UIDs; higher ones came later and count as seen only once counted).
    // "UID SEARCH UNSEEN", then, when any are new, "UID FETCH <uids>
    // (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)]<0.16384>)", which leaves \Seen as it is and
    // bounds what the server sends; a message whose FETCH lacks its UID or header is left out.
    // Raises as CountUnseenInSelected does.
    virtual std::vector<NewMessageHeader> RetrieveNewHeaders(int32_t count, int32_t arrived, int32_t most);
    // The pieces of CountUnseenInSelected, for a caller that sends and awaits by itself: the
    // command of the next round, then, once its reply came, the count (none: the mailbox changed
    // meanwhile and the count is taken again). Raises ImapProtocolError when no count came.
    std::string UnseenSearchCommand();
    std::optional<int32_t> UnseenSearchCount(int32_t round);
    // The pieces of RetrieveNewHeaders: "UID SEARCH UNSEEN"; once its reply came, the fetch of
    // the newest new messages (none when nothing is new); once that came, their headers. The
    // last also ends the exchange after a refusal, giving what came.
    std::string NewHeadersSearchCommand();
    std::optional<std::string> NewHeadersFetchCommand(int32_t count, int32_t arrived, int32_t most);
    std::vector<NewMessageHeader> FetchedNewHeaders();

    // ---- The watched connection, driven by its socket: nothing here waits for the server ----

    // During IDLE: waits at most waitMs (0: not at all) for bytes, then takes in what has
    // arrived as TakeArrived does; true when an untagged EXISTS, EXPUNGE or FETCH came (also one
    // that came while IDLE started), or the server ended the IDLE itself. Raises as TakeArrived.
    bool PollIdle(int32_t waitMs);
    // Sends "DONE" and returns: TakeArrived sees the IDLE's tagged OK. The exchange it begins
    // must end within SessionTimeLimit (ReplyDeadline). False, and nothing sent, when the
    // server has ended the IDLE already.
    bool SendDone();
    // Sends the command, tagged, and returns: TakeArrived sees its tagged reply.
    void SendCommand(std::string_view command);
    // Sends "IDLE" and returns: TakeArrived sees the continuation, which ends the exchange.
    void SendIdle();
    // Takes in what the connection holds (the socket's bytes and those TLS has decrypted
    // already) without waiting, and handles every whole response among them: true once the
    // reply awaited has come (the tagged OK of the command sent last, or IDLE's continuation);
    // what follows it stays queued for the next call. The rest of a response that has begun
    // is taken at a later call. Raises ImapReplyError when the command is refused (the
    // connection stays open) or on a "BYE", ImapProtocolError for a reply out of turn or IDLE
    // ended before it began, EIdConnClosedGracefully when the server has closed,
    // EIdReadTimeout "Read timed out." once ReplyDeadline has passed, and the reader's errors;
    // all but a refusal close the connection.
    bool TakeArrived();
    // When the exchange under way, or a response begun during IDLE, must have ended: its start
    // plus SessionTimeLimit. None while idling with nothing begun.
    std::optional<std::chrono::steady_clock::time_point> ReplyDeadline() const { return replyDeadline_; }
    // Whether TakeArrived has more to do that the socket will not signal: a whole response
    // queued, bytes beyond what one call reads, or a connection closed meanwhile.
    bool MoreArrived();

    // Leaves IDLE when idling, sends "LOGOUT" (its "* BYE" expected) and closes the connection
    // in any case; a failure of the goodbye is raised after the close. Nothing is sent when
    // the connection is closed already.
    void CloseSession();

    // The capability list last learnt, as the server wrote it.
    const std::vector<std::string>& Capabilities() const { return capabilities_; }

protected:
    bool SupportsTLS() override { return HasCapability(u"STARTTLS"); }
    void NotifyPeerBeforeClose() override;
    // Takes in one untagged response: capabilities, counts, mailbox changes; a "BYE" outside
    // LOGOUT closes the connection and raises ImapReplyError.
    virtual void HandleUntagged(const ImapResponse& response);

    // One piece of a command: text as it stands, or a string sent as a literal.
    struct CommandPart {
        std::string bytes;
        bool literal = false;
    };
    // Sends a command (tagged here) and reads every response up to its tagged reply, which must
    // be OK (else ImapReplyError with the server's text); returns that reply.
    ImapResponse RunCommand(const std::vector<CommandPart>& parts);
    ImapResponse RunCommand(std::string_view command) { return RunCommand({{std::string(command)}}); }
    // The next tag, "A1" first.
    std::string NextTag();
    ImapResponse ReadResponse();
    // The user name or password as IMAP's astring: a quoted string when its bytes allow, else
    // a literal.
    static CommandPart AString(std::string_view bytes);

private:
    void ResetSession();
    void ReadGreeting();
    void StartTlsByCommand();
    void SignIn();
    void LogInWithPassword();
    void Authenticate();
    void SendLiteralPart(const std::string& bytes, bool lastOfCommand);
    void AwaitContinuation();
    // Reads up to the tagged reply; one continuation request may come first, for the handler
    // (another, or one without a handler, is out of step).
    using ContinuationHandler = std::function<void(const ImapResponse&)>;
    ImapResponse AwaitTagged(const std::string& tag, const ContinuationHandler& onContinuation = {});
    void TakeCapabilities(std::string_view list);
    void TakeStatus(const std::vector<ImapToken>& tokens);
    void TakeSearch(const std::vector<ImapToken>& tokens, bool extended);
    void TakeUidValidity(const std::string& value);
    // A FETCH with a message's UID and header bytes, while RetrieveNewHeaders waits for them.
    bool TakeFetchedHeader(const std::vector<ImapToken>& tokens);
    void CloseAfterBye(const ImapResponse& response);
    // Moves the bytes the connection holds into the input queue, at most ReadBudget at a time.
    void ReadWithoutWaiting();
    // One response taken while the watch's exchange runs or the session idles: true when it is
    // the reply awaited.
    bool TakeWatchedResponse(const ImapResponse& response);
    // Notes when a response has begun during IDLE; raises once its time is up.
    void CheckReplyDeadline();
    // For replies that leave the stream out of step: closes the connection, then raises.
    template <class Error> [[noreturn]] void CloseAndRaise(const Error& error);
    void WriteBytes(const std::string& bytes);
    [[noreturn]] static void RaiseRefusal(const ImapResponse& response);

    std::u16string username_;
    std::u16string password_;
    std::u16string accessToken_;
    std::chrono::milliseconds sessionTimeLimit_ = DefaultSessionTimeLimit;
    ImapReplyReader reader_;

    int32_t nextTag_ = 1;
    std::vector<std::string> capabilities_;
    bool capabilitiesLearnt_ = false; // by the last tagged reply or untagged CAPABILITY
    bool preauthenticated_ = false;
    bool loggingOut_ = false;
    bool idling_ = false;
    std::string idleTag_;
    std::string awaitedTag_;            // of the command sent without waiting
    bool awaitingContinuation_ = false; // of "IDLE" sent without waiting
    std::optional<std::chrono::steady_clock::time_point> replyDeadline_;
    bool mailboxChanged_ = false;
    int32_t statusUnseen_ = -1;
    int32_t searchCount_ = -1;
    bool searchingUids_ = false;
    std::vector<uint32_t> searchUids_; // of UID SEARCH UNSEEN
    int32_t untaggedInCommand_ = 0;
    bool fetchingHeaders_ = false;
    std::map<uint32_t, std::string> fetchedHeaders_; // by UID
    std::vector<uint32_t> newestUids_;               // asked for by the fetch, newest first
    std::set<uint32_t> seenUnseenUids_;              // of the last RetrieveNewHeaders, kept across sessions
    std::string uidValidity_;                        // of the mailbox examined last, as the server wrote it
};

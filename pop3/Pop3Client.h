#pragma once
// The POP3 client (RFC 1939) as the mail check drives it: connect, read the greeting, ask for
// the capabilities, sign in, ask for the message count and end the session with "QUIT".
//
//     client.SetHost(u"mail.example.org");
//     client.SetUsername(u"u");
//     client.SetPassword(u"p");
//     client.ConnectAndLogIn();
//     const int32_t count = client.QueryMessageCount();
//     client.CloseSession(true);
//
// With UseTLS the session runs over TLS: from the connect on (utUseImplicitTLS, port 995 by
// default), or after "STLS" on the regular port (utUseRequireTLS; utUseExplicitTLS when the
// server lists STLS), in which case the capabilities are asked for again over TLS.
//
// A session never runs longer than SessionTimeLimit from the start of ConnectAndLogIn: a server
// that keeps every single wait short (dripping bytes, endless blank lines) cannot hold the
// check, and with it the program, for ever.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "mail/ExplicitTlsClient.h"
#include "mail/NewMessageHeader.h"
#include "pop3/Pop3Reply.h"

enum TIdPOP3AuthenticationType : uint8_t { patUserPass = 0, patAPOP = 1, patSASL = 2 };

class TIdPOP3 : public TIdExplicitTLSClient {
public:
    static constexpr uint16_t DefaultPort = 110;
    static constexpr uint16_t DefaultTLSPort = 995;
    static constexpr int32_t DefaultMaxCapturedLines = 1000;
    static constexpr std::chrono::milliseconds DefaultSessionTimeLimit{40000};
    // The most header bytes kept of one message; the rest of its header is read and dropped.
    static constexpr size_t HeaderByteLimit = 16384;

    TIdPOP3();
    ~TIdPOP3() override;

    TIdPOP3AuthenticationType AuthType() const { return authType_; }
    void SetAuthType(TIdPOP3AuthenticationType type) { authType_ = type; }
    // Whether ConnectAndLogIn also signs in.
    bool AutoLogin() const { return autoLogin_; }
    void SetAutoLogin(bool on) { autoLogin_ = on; }
    const std::u16string& Username() const { return username_; }
    void SetUsername(std::u16string name) { username_ = std::move(name); }
    const std::u16string& Password() const { return password_; }
    void SetPassword(std::u16string password) { password_ = std::move(password); }
    // The most capability lines, and the most lines of one reply, taken from the server before
    // the read fails with EIdMaxCaptureLineExceeded.
    int32_t MaxCapturedLines() const { return maxCapturedLines_; }
    void SetMaxCapturedLines(int32_t lines);
    // The OAuth 2.0 access token patSASL signs in with (bytes, never shown).
    void SetBearerToken(std::string token) { bearerToken_ = std::move(token); }
    // How long one session may last, from the start of ConnectAndLogIn to its close.
    std::chrono::milliseconds SessionTimeLimit() const { return sessionTimeLimit_; }
    void SetSessionTimeLimit(std::chrono::milliseconds limit) { sessionTimeLimit_ = limit; }

    // --- What the session learnt from the server (reset by every ConnectAndLogIn) ---

    // The greeting's time stamp with its angle brackets; empty when it had none.
    const std::u16string& ApopTimestamp() const { return apopTimestamp_; }
    bool ServerOffersApop() const { return !apopTimestamp_.empty(); }
    // The lines of the last "CAPA" list.
    const std::vector<std::u16string>& ServerCapabilityList() const { return capabilities_; }
    bool ServerAnsweredCapa() const { return !capabilities_.empty(); }
    // The least time the server wants between two sign-ins ("LOGIN-DELAY n" in CAPA; when the
    // list before the sign-in says the delay depends on the user, "LOGIN-DELAY n USER", CAPA is
    // asked again once signed in and its value counts), at most MaxLoginDelay; nothing when it
    // announced none.
    static constexpr std::chrono::seconds MaxLoginDelay{3600};
    std::optional<std::chrono::seconds> LoginDelay() const { return loginDelay_; }

    // The last reply read, as the POP3 record it is.
    TIdReplyPOP3& LastReply() { return static_cast<TIdReplyPOP3&>(TIdTCPConnection::LastReply()); }

    // --- The session ---

    // Opens the connection (with utUseImplicitTLS, TLS at once), reads the greeting (which must
    // be "+OK"), sends "CAPA" and, with AutoLogin, signs in. Raises what OpenTcpConnection
    // raises (nothing exchanged; with implicit TLS also the handshake's EIdTLSCertificateRejected
    // and EIdTLSError); after the connect, every failure closes the connection without "QUIT"
    // and is passed on:
    // EIdReplyPOP3Error for a refused greeting or sign-in, EIdReadTimeout "Read timed out." for
    // a silent server or once SessionTimeLimit has passed, EIdConnClosedGracefully,
    // EIdReadLnMaxLineLengthExceeded, EIdMaxCaptureLineExceeded, EIdCommandHasLineBreak, and
    // what SignIn raises.
    virtual void ConnectAndLogIn();
    // "STAT": the message count, the first word of the reply's text ("+OK" alone gives 0).
    // Raises EIdReplyPOP3Error when refused, EConvertError "''<word>'' is not a valid integer
    // value" when the word is no integer, and the read errors; the connection stays open.
    virtual int32_t QueryMessageCount();
    // With notifyPeer and an open connection sends "QUIT" first; the connection is closed in
    // any case, and a failure of the "QUIT" (EIdReplyPOP3Error, EIdReadTimeout...) is raised
    // after the close. Ends the session's time limit.
    virtual void CloseSession(bool notifyPeer);
    // "CAPA": fills ServerCapabilityList (and LoginDelay when it names one) when the server
    // answers "+OK" and returns whether it did; any other answer is accepted and leaves the list
    // empty. Raises the read errors and EIdMaxCaptureLineExceeded beyond MaxCapturedLines lines.
    bool QueryServerCapabilities();
    // Negotiates TLS first when it is due (StartTLSByCommand), then signs in by AuthType: "USER"
    // and "PASS" (patUserPass), or "APOP" with the MD5 proof of the greeting's time stamp and
    // the password (patAPOP; EIdDoesNotSupportAPOP when the greeting had none), user name and
    // password as UTF-8, preceded by "UTF8" when they are not all ASCII and CAPA lists it (its
    // answer is not needed); or with the
    // bearer token (patSASL): "AUTH XOAUTH2" ("AUTH OAUTHBEARER" when CAPA's SASL line lists only
    // that), the "+ " continuation answered with the initial response; a failure challenge ("+ "
    // and base64 JSON) is answered with an empty line and raises EBearerTokenRejected with the
    // server's "-ERR" text, as does an "-ERR" to the response (but "-ERR [SYS/TEMP]", the server's
    // own failure, and "[LOGIN-DELAY]" and "[IN-USE]", which refuse any sign-in just now, raise
    // EIdReplyPOP3Error). patSASL without a token raises
    // EIdSASLMechNeeded; a refused AUTH command raises EIdReplyPOP3Error. A refusal raises
    // EIdReplyPOP3Error. The answer to PASS, APOP, AUTH and its response may take up to
    // SignInReplyTimeout. A user name or password with a line break raises
    // EIdCommandHasLineBreak, and a user name or token with a control character
    // EBearerSaslBadValue, before the command is sent.
    virtual void SignIn();
    // "QUIT", expecting "+OK" (EIdReplyPOP3Error otherwise).
    void SendQuit();

    // --- Which messages are new ---

    // "UIDL": the unique id of each message, by message number (1 up); nothing when the server
    // refuses the command. Lines that are no "number id" pair are passed over. Raises the read
    // errors and EIdMaxCaptureLineExceeded beyond MaxCapturedLines lines.
    std::optional<std::vector<std::pair<int32_t, std::u16string>>> QueryUniqueIds();
    // "TOP <number> 0": the message's header lines, dot-unstuffed and each ended by CR LF, the
    // bytes as sent, at most HeaderByteLimit of them; empty when a line of it runs beyond the
    // line length (the answer is still read to its end); nothing when the server refuses.
    // Raises the read errors and EIdMaxCaptureLineExceeded.
    std::optional<std::string> RetrieveHeader(int32_t number);
    // The headers (as RetrieveHeader gives them) of up to `most` of the `arrived` messages that
    // came since the previous call, newest first, each with its "UIDL" id, among the `count`
    // that "STAT" gave. New are
    // the messages whose "UIDL" id the previous call did not see (the ids of this call up to
    // `count` count as seen afterwards), or, from a server without UIDL, the highest-numbered
    // `arrived` of the `count` messages. A header that cannot be read is left out; the first
    // "TOP" refused before any was answered ends the fetch (the server has no TOP), a later one
    // leaves out that message. Raises what QueryUniqueIds and RetrieveHeader raise.
    virtual std::vector<NewMessageHeader> RetrieveNewHeaders(int32_t count, int32_t arrived, int32_t most);
    // With utUseRequireTLS, or utUseExplicitTLS and STLS offered: "STLS", which must be
    // answered "+OK" (else EIdTLSUnavailable "Server does not offer STLS." when it did not list
    // it, or "Server refused STLS: " and the reply's text), the handshake
    // (EIdTLSCertificateRejected, EIdTLSError, EIdReadTimeout), and "CAPA" again. Nothing
    // happens otherwise.
    void StartTLSByCommand();

protected:
    std::unique_ptr<TIdReply> CreateReplyRecord() const override;
    // The server lists "STLS" among its capabilities (any letter case).
    bool SupportsTLS() override;
    void NotifyPeerBeforeClose() override { SendQuit(); }

private:
    void ResetSessionFields();
    void ReadGreeting();
    void SignInWithUserAndPass();
    void SignInWithApop();
    void SignInWithBearerToken();
    void AnnounceUtf8();
    // The lines of TOP's answer up to its final ".": the header, or empty when it has a line cut
    // at the line length.
    std::string ReadHeaderLines();
    // Takes LOGIN-DELAY from the capability list just read.
    void TakeLoginDelay();
    // The mechanisms of CAPA's "SASL" line.
    std::vector<std::u16string> SaslMechanisms() const;

    TIdPOP3AuthenticationType authType_ = patUserPass;
    bool autoLogin_ = true;
    std::u16string username_;
    std::u16string password_;
    std::string bearerToken_;
    int32_t maxCapturedLines_ = DefaultMaxCapturedLines;
    std::chrono::milliseconds sessionTimeLimit_ = DefaultSessionTimeLimit;
    std::u16string apopTimestamp_;
    std::vector<std::u16string> capabilities_;
    std::optional<std::chrono::seconds> loginDelay_;
    bool loginDelayPerUser_ = false;
    std::set<std::u16string> seenUniqueIds_; // of the last call, kept from session to session
};

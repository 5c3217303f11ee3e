#pragma once
// A TCP connection with its I/O handler. The handler is created implicitly by the client's
// first connect and owned by the connection. On top of it sits the command and reply exchange:
// a command goes out as one line, the reply's lines come back into LastReply, a record of the
// connection's reply class, and its code is compared with the one the caller expects.

#include <memory>
#include <string>
#include <string_view>

#include "transport/StackSocketIO.h"
#include "transport/StackUser.h"
#include "transport/TransportErrors.h"

class TIdReply;

// A command line that would carry CR or LF onto the wire, where it would end the command early
// and smuggle in a second one. Nothing of it is sent.
BG_DECLARE_EXCEPTION(EIdCommandHasLineBreak, EIdException);

class TIdTCPConnection : public TIdComponent {
public:
    TIdTCPConnection();
    // Closes the handler (without telling the peer) and releases it and the reply record.
    ~TIdTCPConnection() override;

    // With notifyPeer and an open connection, NotifyPeerBeforeClose first; then the handler is
    // closed and its unread input dropped in any case. An error of the notification is raised
    // after the close.
    void CloseTcpConnection(bool notifyPeer = true);

    // Takes in what has arrived without waiting, then: open socket and handler with the peer
    // not closed, or bytes still queued. Raises EIdSocketError when the socket fails.
    virtual bool TcpConnectionIsOpen();

    // The I/O handler; none before the first connect and after a failed one.
    TIdIOHandlerStack* IOHandler() const { return ioHandler_.get(); }
    // True when the handler was created by the connection itself (which then owns it).
    bool ImplicitIOHandler() const { return implicitIOHandler_; }

    // --- Command and reply exchange ---

    // Sends `line` followed by CR LF in one write, reads the reply into LastReply and returns its
    // code; an empty expectedCode accepts any reply. Raises EIdNotConnected "Not Connected"
    // without a handler, EIdCommandHasLineBreak (nothing sent) when the encoded line holds CR or
    // LF, and whatever AwaitReply raises.
    std::u16string IssueCommand(std::u16string_view line, std::u16string_view expectedCode = {},
                                WireEncoding encoding = weAscii);
    // Reads one reply without sending anything (a greeting) and returns CheckReplyCode's result.
    // Raises what ReadReply and CheckReplyCode raise.
    virtual std::u16string AwaitReply(std::u16string_view expectedCode = {}, WireEncoding encoding = weAscii);
    // Reads the lines of one reply, blank lines skipped, up to its final line, and parses them
    // into LastReply. Raises EIdNotConnected, the handler's EIdReadTimeout "Read timed out." and
    // close and line-length errors, and EIdMaxCaptureLineExceeded when a reply runs on for more
    // lines than the handler's MaxCapturedLines. On failure LastReply keeps the previous reply.
    virtual void ReadReply(WireEncoding encoding = weAscii);
    // Returns code when expectedCode is empty or the same ignoring letter case; otherwise raises
    // LastReply's failure (for POP3 EIdReplyPOP3Error with the reply's text as message).
    virtual std::u16string CheckReplyCode(const std::u16string& code, std::u16string_view expectedCode);
    // Raises EIdNotConnected "Not Connected" when there is no I/O handler.
    void RequireConnection() const;
    // The last reply read, of the connection's reply class (made on first use).
    TIdReply& LastReply();

protected:
    // Says goodbye to the peer before a close; nothing here.
    virtual void NotifyPeerBeforeClose() {}
    // A new, empty record of the connection's reply class. A plain connection has none, and
    // asking it for LastReply raises EIdException.
    virtual std::unique_ptr<TIdReply> CreateReplyRecord() const;

    // The handler a connect creates when there is none: a TIdIOHandlerStack here.
    virtual std::unique_ptr<TIdIOHandlerStack> CreateIOHandler() const;
    // Creates the implicit handler (CreateIOHandler) when there is none.
    TIdIOHandlerStack& EnsureIOHandler();
    // Closes the handler and, if it is the implicit one, releases it.
    void DiscardIOHandler();

private:
    void CloseIOHandler();

    std::unique_ptr<TIdIOHandlerStack> ioHandler_;
    bool implicitIOHandler_ = false;
    std::unique_ptr<TIdReply> lastReply_;
};

#pragma once
// A TCP connection with its I/O handler. The handler is created implicitly by the client's
// first connect and owned by the connection; the command and reply exchange is built on top.

#include <memory>

#include "transport/IdComponent.h"
#include "transport/IdIOHandlerStack.h"

class TIdTCPConnection : public TIdComponent {
public:
    TIdTCPConnection();
    // Closes the handler (without telling the peer) and releases it.
    ~TIdTCPConnection() override;

    // With notifyPeer and an open connection, NotifyPeerBeforeClose first; then the handler is
    // closed and its unread input dropped in any case. An error of the notification is raised
    // after the close.
    void CloseTcpConnection(bool notifyPeer = true);

    // Takes in what has arrived without waiting, then: open socket and handler with the peer
    // not closed, or bytes still queued. Raises EIdSocketError when the socket fails.
    bool TcpConnectionIsOpen();

    // The I/O handler; none before the first connect and after a failed one.
    TIdIOHandlerStack* IOHandler() const { return ioHandler_.get(); }
    // True when the handler was created by the connection itself (which then owns it).
    bool ImplicitIOHandler() const { return implicitIOHandler_; }

protected:
    // Says goodbye to the peer before a close; nothing here.
    virtual void NotifyPeerBeforeClose() {}

    // Creates the implicit handler when there is none.
    TIdIOHandlerStack& EnsureIOHandler();
    // Closes the handler and, if it is the implicit one, releases it.
    void DiscardIOHandler();

private:
    void CloseIOHandler();

    std::unique_ptr<TIdIOHandlerStack> ioHandler_;
    bool implicitIOHandler_ = false;
};

#include "transport/IdTCPConnection.h"

TIdTCPConnection::TIdTCPConnection() = default;

TIdTCPConnection::~TIdTCPConnection() {
    DiscardIOHandler();
}

void TIdTCPConnection::CloseTcpConnection(bool notifyPeer) {
    try {
        if (notifyPeer && TcpConnectionIsOpen())
            NotifyPeerBeforeClose();
    } catch (...) {
        CloseIOHandler();
        throw;
    }
    CloseIOHandler();
}

// Bytes still unread belong to the connection being closed. Left in the queue they would make
// the connection count as open, and every later connect would fail with "Already connected.".
void TIdTCPConnection::CloseIOHandler() {
    if (!ioHandler_)
        return;
    if (ioHandler_->HandlerOpen())
        ioHandler_->Close();
    ioHandler_->InputQueue().Clear();
}

bool TIdTCPConnection::TcpConnectionIsOpen() {
    return ioHandler_ && ioHandler_->IsStillConnected();
}

TIdIOHandlerStack& TIdTCPConnection::EnsureIOHandler() {
    if (!ioHandler_) {
        ioHandler_ = std::make_unique<TIdIOHandlerStack>();
        implicitIOHandler_ = true;
    }
    return *ioHandler_;
}

void TIdTCPConnection::DiscardIOHandler() {
    if (!ioHandler_)
        return;
    ioHandler_->Close();
    if (implicitIOHandler_) {
        ioHandler_.reset();
        implicitIOHandler_ = false;
    }
}

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
        if (ioHandler_ && ioHandler_->HandlerOpen())
            ioHandler_->Close();
        throw;
    }
    if (ioHandler_ && ioHandler_->HandlerOpen())
        ioHandler_->Close();
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

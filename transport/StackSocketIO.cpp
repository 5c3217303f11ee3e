#include "transport/StackSocketIO.h"

#include "transport/Messages.h"
#include "transport/TransportErrors.h"

void TIdIOHandlerStack::CheckPeerClosed(bool raiseIfDisconnected, bool ignoreBuffer) {
    if (PeerClosed() && SocketIsOpen())
        Close();
    const bool disconnected = PeerClosed() || !SocketIsOpen();
    if (disconnected && (ignoreBuffer || InputQueue().Size() == 0) && raiseIfDisconnected)
        throw EIdConnClosedGracefully(RSConnectionClosedGracefully);
}

bool TIdIOHandlerStack::IsStillConnected() {
    FillInputBuffer(false, 0, false);
    return TIdIOHandlerSocket::IsStillConnected();
}

int32_t TIdIOHandlerStack::ReceiveFromSocket(TIdBytes& buffer) {
    return Binding()->Receive(buffer);
}

int32_t TIdIOHandlerStack::SendToSocket(const TIdBytes& bytes, int32_t offset) {
    return Binding()->Send(bytes, -1, offset);
}

bool TIdIOHandlerStack::WaitReadable(int32_t ms) {
    return Binding()->WaitReadable(ms);
}

#pragma once
// The I/O handler the TCP client uses: the byte-level operations on its socket handle.

#include "transport/SocketIO.h"

class TIdIOHandlerStack : public TIdIOHandlerSocket {
public:
    // Once the peer has closed, closes the socket; then, when disconnected and
    // raiseIfDisconnected, raises EIdConnClosedGracefully "Connection Closed Gracefully." unless
    // bytes are still queued (ignoreBuffer: regardless of them).
    void CheckPeerClosed(bool raiseIfDisconnected, bool ignoreBuffer) override;
    // Takes in what has arrived without waiting (noticing a close by the peer), then the
    // connected test. Raises EIdSocketError when the socket fails.
    bool IsStillConnected() override;

protected:
    int32_t ReceiveFromSocket(TIdBytes& buffer) override;
    int32_t SendToSocket(const TIdBytes& bytes, int32_t offset) override;
    bool WaitReadable(int32_t ms) override;
};

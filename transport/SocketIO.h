#pragma once
// The I/O handler of one client socket: it owns the socket handle (kept from one connection to
// the next) and, when opened with a host and port, connects it within the connect time-out.

#include <cstdint>
#include <memory>
#include <string>

#include "transport/ConnectionSettings.h"
#include "transport/LineIO.h"
#include "transport/SocketHandle.h"

class TIdIOHandlerSocket : public TIdIOHandler, public BindingProperties {
public:
    TIdIOHandlerSocket();
    ~TIdIOHandlerSocket() override;

    // Opens the handler and, with Host set and Port above 0, runs ConnectStep. Raises what
    // ConnectStep raises.
    void Open() override;
    // Closes the socket (shutdown of the sending side, then close), then the handler.
    void Close() override;
    // Open socket and an open handler, or bytes still queued.
    bool IsStillConnected() override;

    // The socket handle; none before the first Open.
    TIdSocketHandle* Binding() const { return binding_.get(); }

    bool UseNagle() const { return useNagle_; }
    void SetUseNagle(bool useNagle) { useNagle_ = useNagle; }

protected:
    bool SocketIsOpen() const override;

    // Allocates and binds a stream socket, resolves Host on the calling thread and connects:
    // through WaitForConnect when ConnectTimeout is not 0, directly otherwise.
    // Raises EIdSocketError, EIdCouldNotBindSocket, EIdConnectTimeout, EIdConnectException.
    virtual void ConnectStep();
    // Starts the connect; unless it is made at once, a TIdConnectThread waits for it while this
    // thread polls the watcher in 125 ms slices for at most timeout ms (negative: no limit). At time-out the
    // connect is ended, the handler closed and EIdConnectTimeout "Connect timed out." raised; a failed
    // connect raises EIdSocketError with its code, or EIdConnectException.
    void WaitForConnect(int32_t timeout);

private:
    void PrepareBinding();
    // The address and IP version to connect to, resolved on the calling thread.
    SocketAddress Destination() const;

    std::unique_ptr<TIdSocketHandle> binding_;
    bool useNagle_ = true;
};

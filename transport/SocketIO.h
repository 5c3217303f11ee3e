#pragma once
// The I/O handler of one client socket: it owns the socket handle (kept from one connection to
// the next) and, when opened with a host and port, connects it within the connect time-out.

#include <cstdint>
#include <memory>
#include <string>

#include "transport/LineIO.h"
#include "transport/SocketHandle.h"

enum TIdReuseSocket : uint8_t { rsOSDependent = 0, rsTrue = 1, rsFalse = 2 };

class TIdIOHandlerSocket : public TIdIOHandler {
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

    TIdIPVersion IPVersion() const { return ipVersion_; }
    void SetIPVersion(TIdIPVersion version) { ipVersion_ = version; }
    const std::u16string& BoundIP() const { return boundIP_; }
    void SetBoundIP(std::u16string ip) { boundIP_ = std::move(ip); }
    uint16_t BoundPort() const { return boundPort_; }
    void SetBoundPort(uint16_t port) { boundPort_ = port; }
    uint16_t BoundPortMin() const { return boundPortMin_; }
    uint16_t BoundPortMax() const { return boundPortMax_; }
    void SetBoundPortRange(uint16_t minimum, uint16_t maximum);
    TIdReuseSocket ReuseSocket() const { return reuseSocket_; }
    void SetReuseSocket(TIdReuseSocket reuse) { reuseSocket_ = reuse; }
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
    std::u16string DestinationAddress() const;

    std::unique_ptr<TIdSocketHandle> binding_;
    TIdIPVersion ipVersion_ = Id_IPv4;
    std::u16string boundIP_;
    uint16_t boundPort_ = 0;
    uint16_t boundPortMin_ = 0;
    uint16_t boundPortMax_ = 0;
    TIdReuseSocket reuseSocket_ = rsOSDependent;
    bool useNagle_ = true;
};

#pragma once
// One socket: its native handle, local and peer addresses, IP version and the readable wait.
// The connection lock orders a close from one thread against the address read-back after a
// connect on another, so the bounded connect can close the socket under a pending connect.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "transport/ConnectionSettings.h"
#include "transport/SocketList.h"
#include "transport/Ticks.h"
#include "transport/WireText.h"

class WakeSignal;

class TIdSocketHandle {
public:
    TIdSocketHandle();
    ~TIdSocketHandle();
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    // Opens a new socket of the handle's IP version (closing one still held).
    // Raises EIdSocketError.
    void Allocate(int socketType, int protocol);

    // bind() to IP()/Port(), or across the client port range from its maximum down, then reads
    // the chosen address back. Raises EIdCouldNotBindSocket whatever the cause.
    void Bind();

    // Blocking connect() to PeerIP()/PeerPort(), then the addresses are read back. A connection
    // to itself (local address and port equal to the peer's) is closed and raises
    // EIdSocketError 10061, as do the two calls below. Raises EIdSocketError.
    void Connect();

    // Starts the connect without blocking: true when it is already made (addresses read back),
    // false while it is in progress and CompleteConnect must follow. Raises EIdSocketError.
    bool BeginConnect();

    // Waits for the connect in progress (a raised cancel ends the wait with 10004), then,
    // while the socket is still open, reads both addresses back. Raises EIdSocketError.
    void CompleteConnect(const WakeSignal& cancel);

    // listen() on the bound socket, then the local address is read back. Raises EIdSocketError.
    void Listen(int32_t backlog);
    // Takes one waiting connection into client (which must hold no socket) and reads its
    // addresses back: false when none waits on a non-blocking socket. Raises EIdSocketError.
    bool Accept(TIdSocketHandle& client);
    // recv()/send() through the stack. Raise EIdSocketError.
    int32_t Receive(TIdBytes& buffer);
    int32_t Send(const TIdBytes& buffer, int32_t count = -1, int32_t offset = 0);

    // Waits until the socket has something to read: true, or false once ms have passed.
    // DEFAULT_WAIT and INFINITE_WAIT wait without limit; 0 only polls. Raises
    // EIdConnClosedGracefully "Connection Closed Gracefully." when the handle is not open.
    bool WaitReadable(int32_t ms);

    // Waits until the socket can take more bytes: true, or false once ms have passed (negative:
    // no limit). Raises EIdConnClosedGracefully when the handle is not open, EIdSocketError.
    bool WaitWritable(int32_t ms);

    // Non-blocking mode on or off. Raises EIdSocketError.
    void SetNonBlocking(bool nonBlocking);

    // shutdown() of the sending side and close(), under the connection lock; a closed handle
    // is left alone.
    void CloseSocket();

    // Closes the socket if one is held and forgets the peer (and, when asked, the local side);
    // IPv4 again.
    void Reset(bool resetLocal = true);

    // setsockopt() with a 4-byte value. Raises EIdSocketError.
    void SetSocketOption(int level, int option, int32_t value);

    TIdStackSocketHandle Handle() const { return handle_; }
    bool HandleAllocated() const;
    TIdIPVersion IPVersion() const { return ipVersion_; }
    // Raises EIdCannotSetIPVersionWhenConnected while a socket is held.
    void SetIPVersion(TIdIPVersion version);
    const std::u16string& IP() const { return ip_; }
    void SetIP(std::u16string ip) { ip_ = std::move(ip); }
    uint16_t Port() const { return port_; }
    void SetPort(uint16_t port) { port_ = port; }
    const std::u16string& PeerIP() const { return peerIP_; }
    uint16_t PeerPort() const { return peerPort_; }
    void SetPeer(std::u16string ip, uint16_t port, TIdIPVersion version);
    uint16_t ClientPortMin() const { return clientPortMin_; }
    uint16_t ClientPortMax() const { return clientPortMax_; }
    void SetClientPortRange(uint16_t minimum, uint16_t maximum);
    const TIdSocketList& ReadSocketSet() const { return *readSocketSet_; }

private:
    void SetHandle(TIdStackSocketHandle handle);
    bool TryBind(uint16_t port);
    void ReadAddressesBack();
    // ReadAddressesBack after a connect, refusing a connection to itself.
    void ReadConnectedAddressesBack();
    bool ConnectedToItself() const;

    TIdStackSocketHandle handle_ = Id_INVALID_SOCKET;
    bool open_ = false;
    std::u16string ip_;
    uint16_t port_ = 0;
    std::u16string peerIP_;
    uint16_t peerPort_ = 0;
    TIdIPVersion ipVersion_ = Id_IPv4;
    uint16_t clientPortMin_ = 0;
    uint16_t clientPortMax_ = 0;
    std::unique_ptr<TIdSocketList> readSocketSet_;
    mutable std::mutex connectionLock_;
};

#include "transport/SocketHandle.h"

#include "transport/ErrorTexts.h"
#include "transport/Messages.h"
#include "transport/SocketStack.h"
#include "transport/TransportErrors.h"

namespace {

constexpr int32_t ConnectionRefused = 10061;

} // namespace

TIdSocketHandle::TIdSocketHandle() : readSocketSet_(TIdSocketList::CreateSocketList()) {
    AcquireStack();
}

TIdSocketHandle::~TIdSocketHandle() {
    CloseSocket();
    ReleaseStack();
}

void TIdSocketHandle::Allocate(int socketType, int protocol) {
    CloseSocket();
    if (HandleAllocated())
        Reset();
    SetHandle(GStack()->OpenStreamSocket(socketType, protocol, false, ipVersion_));
}

void TIdSocketHandle::Bind() {
    if (port_ != 0 || clientPortMin_ == 0 || clientPortMax_ == 0) {
        if (TryBind(port_))
            return;
    } else {
        for (int32_t port = clientPortMax_; port >= clientPortMin_; --port)
            if (TryBind(static_cast<uint16_t>(port)))
                return;
    }
    throw EIdCouldNotBindSocket(RSCouldNotBindSocket);
}

bool TIdSocketHandle::TryBind(uint16_t port) {
    try {
        GStack()->BindLocal(handle_, ip_, ipVersion_, port);
        const SocketAddress local = GStack()->LocalAddress(handle_);
        ip_ = local.IP;
        port_ = local.Port;
        ipVersion_ = local.IPVersion;
        return true;
    } catch (const EIdException&) {
        return false;
    }
}

void TIdSocketHandle::Connect() {
    GStack()->ConnectSocket(handle_, peerIP_, ipVersion_, peerPort_);
    ReadConnectedAddressesBack();
}

void TIdSocketHandle::Listen(int32_t backlog) {
    GStack()->Listen(handle_, backlog);
    // A bind to any port may leave the choice to listen(): the port is known only now.
    const SocketAddress local = GStack()->LocalAddress(handle_);
    ip_ = local.IP;
    port_ = local.Port;
}

bool TIdSocketHandle::Accept(TIdSocketHandle& client) {
    const TIdStackSocketHandle accepted = GStack()->Accept(handle_);
    if (accepted == Id_INVALID_SOCKET)
        return false;
    client.Reset();
    client.SetHandle(accepted);
    client.ReadAddressesBack();
    return true;
}

bool TIdSocketHandle::BeginConnect() {
    if (!GStack()->BeginConnect(handle_, peerIP_, ipVersion_, peerPort_))
        return false;
    ReadConnectedAddressesBack();
    return true;
}

void TIdSocketHandle::CompleteConnect(const WakeSignal& cancel) {
    GStack()->EndConnect(handle_, cancel);
    ReadConnectedAddressesBack();
}

// A connect to a port of this machine on which nobody listens can meet itself: when the system
// picks that very port as the source, the two ends are one socket and the connect "succeeds".
// Nobody listens there, so it is a refusal.
void TIdSocketHandle::ReadConnectedAddressesBack() {
    ReadAddressesBack();
    if (!ConnectedToItself())
        return;
    CloseSocket();
    ThrowSocketError(ConnectionRefused);
}

bool TIdSocketHandle::ConnectedToItself() const {
    std::lock_guard guard(connectionLock_);
    return open_ && port_ == peerPort_ && ip_ == peerIP_;
}

void TIdSocketHandle::ReadAddressesBack() {
    std::lock_guard guard(connectionLock_);
    if (!open_)
        return;
    const SocketAddress local = GStack()->LocalAddress(handle_);
    const SocketAddress peer = GStack()->PeerAddress(handle_);
    ip_ = local.IP;
    port_ = local.Port;
    peerIP_ = peer.IP;
    peerPort_ = peer.Port;
    ipVersion_ = peer.IPVersion;
}

int32_t TIdSocketHandle::Receive(TIdBytes& buffer) {
    return GStack()->ReceiveBytes(handle_, buffer);
}

int32_t TIdSocketHandle::Send(const TIdBytes& buffer, int32_t count, int32_t offset) {
    return GStack()->SendBytes(handle_, buffer, count, offset);
}

bool TIdSocketHandle::WaitReadable(int32_t ms) {
    if (!HandleAllocated())
        throw EIdConnClosedGracefully(RSConnectionClosedGracefully);
    return readSocketSet_->WaitReadable(ms == DEFAULT_WAIT ? INFINITE_WAIT : ms);
}

bool TIdSocketHandle::WaitWritable(int32_t ms) {
    if (!HandleAllocated())
        throw EIdConnClosedGracefully(RSConnectionClosedGracefully);
    return GStack()->WaitWritable(handle_, ms);
}

void TIdSocketHandle::SetNonBlocking(bool nonBlocking) {
    GStack()->SetNonBlocking(handle_, nonBlocking);
}

void TIdSocketHandle::CloseSocket() {
    {
        std::lock_guard guard(connectionLock_);
        if (!open_)
            return;
        open_ = false;
        GStack()->ShutdownAndClose(handle_);
    }
    SetHandle(Id_INVALID_SOCKET);
}

void TIdSocketHandle::Reset(bool resetLocal) {
    // A socket still held is closed, never just forgotten.
    CloseSocket();
    SetHandle(Id_INVALID_SOCKET);
    if (resetLocal) {
        ip_.clear();
        port_ = 0;
    }
    peerIP_.clear();
    peerPort_ = 0;
    ipVersion_ = Id_IPv4;
}

void TIdSocketHandle::SetSocketOption(int level, int option, int32_t value) {
    GStack()->SetSocketOption(handle_, level, option, value);
}

bool TIdSocketHandle::HandleAllocated() const {
    std::lock_guard guard(connectionLock_);
    return open_;
}

void TIdSocketHandle::SetIPVersion(TIdIPVersion version) {
    if (version == ipVersion_)
        return;
    if (HandleAllocated())
        throw EIdCannotSetIPVersionWhenConnected(RSCannotSetIPVersionWhenConnected);
    ipVersion_ = version;
}

void TIdSocketHandle::SetPeer(std::u16string ip, uint16_t port, TIdIPVersion version) {
    peerIP_ = std::move(ip);
    peerPort_ = port;
    ipVersion_ = version;
}

void TIdSocketHandle::SetClientPortRange(uint16_t minimum, uint16_t maximum) {
    clientPortMin_ = minimum;
    clientPortMax_ = maximum;
}

void TIdSocketHandle::SetHandle(TIdStackSocketHandle handle) {
    if (handle_ != Id_INVALID_SOCKET)
        readSocketSet_->Remove(handle_);
    handle_ = handle;
    {
        std::lock_guard guard(connectionLock_);
        open_ = handle != Id_INVALID_SOCKET;
    }
    if (handle != Id_INVALID_SOCKET)
        readSocketSet_->Add(handle);
}

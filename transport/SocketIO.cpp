#include "transport/SocketIO.h"

#include "transport/ConnectThread.h"
#include "transport/Messages.h"
#include "transport/NativeSockets.h"
#include "transport/SocketStack.h"
#include "transport/TransportErrors.h"

namespace {

constexpr int32_t PollSlice = 125;
// Stands for "no limit": it keeps the slice loop going and is never counted down.
constexpr int32_t UnlimitedRemaining = PollSlice + 1;

} // namespace

TIdIOHandlerSocket::TIdIOHandlerSocket() = default;

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
    if (binding_)
        binding_->CloseSocket();
}

void TIdIOHandlerSocket::Open() {
    TIdIOHandler::Open();
    PrepareBinding();
    if (!Host().empty() && Port() > 0)
        ConnectStep();
}

void TIdIOHandlerSocket::PrepareBinding() {
    if (binding_)
        binding_->Reset(true);
    else
        binding_ = std::make_unique<TIdSocketHandle>();
    binding_->SetClientPortRange(BoundPortMin(), BoundPortMax());
}

void TIdIOHandlerSocket::Close() {
    if (binding_)
        binding_->CloseSocket();
    TIdIOHandler::Close();
}

bool TIdIOHandlerSocket::IsStillConnected() {
    return (SocketIsOpen() && TIdIOHandler::IsStillConnected()) || InputQueue().Size() > 0;
}

bool TIdIOHandlerSocket::SocketIsOpen() const {
    return binding_ && binding_->HandleAllocated();
}

void TIdIOHandlerSocket::ConnectStep() {
    const SocketAddress peer = Destination();
    binding_->SetIPVersion(peer.IPVersion);
    binding_->Allocate(SOCK_STREAM, 0);
    if (!BoundIP().empty())
        binding_->SetIP(BoundIP());
    binding_->SetPort(BoundPort());
    binding_->SetClientPortRange(BoundPortMin(), BoundPortMax());
    if (ReuseSocket() == rsTrue)
        binding_->SetSocketOption(SOL_SOCKET, SO_REUSEADDR, 1);
    binding_->Bind();
    binding_->SetSocketOption(IPPROTO_TCP, TCP_NODELAY, useNagle_ ? 0 : 1);
    binding_->SetPeer(peer.IP, static_cast<uint16_t>(Port()), peer.IPVersion);
    if (ConnectTimeout() != 0)
        WaitForConnect(ConnectTimeout());
    else
        binding_->Connect();
}

// Resolved before any time-out runs.
SocketAddress TIdIOHandlerSocket::Destination() const {
    if (IPVersion() == Id_IPv4 && TIdStack::IsIPv4Literal(Host()))
        return {Host(), 0, Id_IPv4};
    return GStack()->ResolvePeerAddress(Host(), IPVersion());
}

void TIdIOHandlerSocket::WaitForConnect(int32_t timeout) {
    // A server that answers within the connect call itself needs no watcher.
    if (binding_->BeginConnect())
        return;
    const bool unlimited = timeout < 0;
    TIdConnectThread watcher(*binding_);
    int32_t remaining = unlimited ? UnlimitedRemaining : timeout;
    while (PollSlice < remaining) {
        // The watcher's stop flag wakes this wait, so a quick connect is noticed at once.
        if (watcher.WaitTerminated(std::chrono::milliseconds(PollSlice))) {
            remaining = 0;
            break;
        }
        if (!unlimited)
            remaining -= PollSlice;
    }
    if (!watcher.WaitTerminated(std::chrono::milliseconds(remaining))) {
        // Stop the pending connect and let the watcher end before the socket is closed, so it
        // never touches a descriptor number that has been handed out again.
        watcher.Terminate();
        watcher.WaitFor();
        Close();
        throw EIdConnectTimeout(RSConnectTimeout);
    }
    if (watcher.ErrorMessage().empty())
        return;
    if (watcher.ErrorCode() != 0)
        throw EIdSocketError(watcher.ErrorCode(), watcher.ErrorMessage());
    throw EIdConnectException(watcher.ErrorMessage());
}

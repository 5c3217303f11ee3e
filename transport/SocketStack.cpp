#include "transport/SocketStack.h"

#include <algorithm>
#include <mutex>

#include "base/Integers.h"
#include "transport/ErrorTexts.h"
#include "transport/Messages.h"
#include "transport/SocketAddress.h"
#include "transport/TransportErrors.h"

namespace {

std::mutex gStackLock;
std::unique_ptr<TIdStack> gStack;
int32_t gStackUsageCount = 0;

constexpr int32_t InterruptedCall = 10004;
constexpr int32_t WouldBlock = 10035;
constexpr int32_t InProgress = 10036;

// A non-blocking connect that has started and not yet finished reports one of these.
bool IsConnectPending(int32_t code) {
    return code == InProgress || code == WouldBlock || code == InterruptedCall;
}

} // namespace

std::u16string TIdStack::ResolveHostAddress(const std::u16string& host, TIdIPVersion version) {
    if (version == Id_IPv4) {
        if (SameTextAscii(host, u"LOCALHOST"))
            return u"127.0.0.1";
        if (IsIPv4Literal(host))
            return host;
        return LookupHostAddress(host, Id_IPv4);
    }
    if (version == Id_IPv6) {
        in6_addr literal;
        if (inet_pton(AF_INET6, TextToUtf8(host).c_str(), &literal) == 1)
            return IPv6Text(literal);
        return LookupHostAddress(host, Id_IPv6);
    }
    throw EIdIPVersionUnsupported(RSIPVersionUnsupported);
}

SocketAddress TIdStack::ResolvePeerAddress(const std::u16string& host, TIdIPVersion version) {
    in6_addr literal;
    if (version == Id_IPv4 && inet_pton(AF_INET6, TextToUtf8(host).c_str(), &literal) == 1)
        version = Id_IPv6;
    if (version != Id_IPv4)
        return {ResolveHostAddress(host, version), 0, version};
    try {
        return {ResolveHostAddress(host, Id_IPv4), 0, Id_IPv4};
    } catch (const EIdSocketError&) {
        try {
            return {LookupHostAddress(host, Id_IPv6), 0, Id_IPv6};
        } catch (const EIdException&) {
        }
        throw; // the IPv4 lookup's error: the name has no address at all
    }
}

bool TIdStack::IsIPv4Literal(std::u16string_view text) {
    for (int round = 0; round < 4; ++round)
        if (TakeIPv4AddressPart(text) < 0)
            return false;
    return text.empty();
}

void TIdStack::BindLocal(TIdStackSocketHandle handle, const std::u16string& ip, TIdIPVersion version,
                         uint16_t port) {
    sockaddr_storage address;
    const TIdSocketLength length = BuildSocketAddress(ip, version, port, address);
#ifdef IP_BIND_ADDRESS_NO_PORT
    // With any port, leave the choice to connect(): it may reuse a port whose earlier connection
    // is still waiting out its close, where bind() would have to search for a port nobody holds.
    if (port == 0)
        SetSocketOption(handle, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, 1);
#endif
    CheckResult(bind(handle, reinterpret_cast<const sockaddr*>(&address), length));
}

void TIdStack::Listen(TIdStackSocketHandle handle, int32_t backlog) {
    CheckResult(listen(handle, backlog));
}

TIdStackSocketHandle TIdStack::Accept(TIdStackSocketHandle handle) {
#ifdef __linux__
    const TIdStackSocketHandle client = accept4(handle, nullptr, nullptr, SOCK_CLOEXEC);
#else
    const TIdStackSocketHandle client = accept(handle, nullptr, nullptr);
#endif
    if (client != Id_INVALID_SOCKET)
        return client;
    const int32_t error = LastSocketError();
    if (error == 10035) // would block: nobody waits
        return Id_INVALID_SOCKET;
    ThrowSocketError(error);
}

void TIdStack::ConnectSocket(TIdStackSocketHandle handle, const std::u16string& ip, TIdIPVersion version,
                             uint16_t port) {
    sockaddr_storage address;
    const TIdSocketLength length = BuildSocketAddress(ip, version, port, address);
    if (connect(handle, reinterpret_cast<const sockaddr*>(&address), length) == 0)
        return;
    // A signal does not abort the attempt: the connect goes on, and its end is waited for.
    const int32_t error = LastSocketError();
    if (error != InterruptedCall)
        ThrowSocketError(error);
    WaitConnectFinished(handle, nullptr);
    CheckConnectOutcome(handle);
}

// Leaves the socket blocking again whichever way the connect ends.
class TIdStack::BlockingRestorer {
public:
    BlockingRestorer(TIdStack& stack, TIdStackSocketHandle handle) : stack_(stack), handle_(handle) {}
    ~BlockingRestorer() {
        if (handle_ != Id_INVALID_SOCKET)
            stack_.WSSetNonBlocking(handle_, false);
    }
    void Keep() { handle_ = Id_INVALID_SOCKET; }

private:
    TIdStack& stack_;
    TIdStackSocketHandle handle_;
};

bool TIdStack::BeginConnect(TIdStackSocketHandle handle, const std::u16string& ip, TIdIPVersion version,
                            uint16_t port) {
    sockaddr_storage address;
    const TIdSocketLength length = BuildSocketAddress(ip, version, port, address);
    CheckResult(WSSetNonBlocking(handle, true));
    BlockingRestorer restorer(*this, handle);
    if (connect(handle, reinterpret_cast<const sockaddr*>(&address), length) == 0)
        return true;
    const int32_t error = LastSocketError();
    if (!IsConnectPending(error))
        ThrowSocketError(error);
    // A server on this machine has usually answered by now.
    if (ConnectFinishedAtOnce(handle, &address, length))
        return true;
    restorer.Keep();
    return false;
}

void TIdStack::EndConnect(TIdStackSocketHandle handle, const WakeSignal& cancel) {
    BlockingRestorer restorer(*this, handle);
    if (!WaitConnectFinished(handle, &cancel))
        ThrowSocketError(InterruptedCall);
    CheckConnectOutcome(handle);
}

void TIdStack::CheckConnectOutcome(TIdStackSocketHandle handle) {
    int error = 0;
    TIdSocketLength length = sizeof error;
    CheckResult(getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length));
    if (error != 0)
        ThrowSocketError(TranslateError(error));
}

int32_t TIdStack::ReceiveBytes(TIdStackSocketHandle handle, TIdBytes& buffer) {
    return CheckResult(WSRecv(handle, buffer.data(), buffer.size()));
}

int32_t TIdStack::SendBytes(TIdStackSocketHandle handle, const TIdBytes& buffer, int32_t count,
                            int32_t offset) {
    // An offset before the buffer would send the memory in front of it.
    if (offset < 0)
        return 0;
    const int64_t available = static_cast<int64_t>(buffer.size()) - offset;
    const int64_t amount = count < 0 ? available : std::min<int64_t>(count, available);
    if (amount <= 0)
        return 0;
    return CheckResult(WSSend(handle, buffer.data() + offset, static_cast<size_t>(amount)));
}

SocketAddress TIdStack::LocalAddress(TIdStackSocketHandle handle) {
    sockaddr_storage storage{};
    TIdSocketLength length = sizeof storage;
    CheckResult(getsockname(handle, reinterpret_cast<sockaddr*>(&storage), &length));
    return SocketAddressFrom(storage);
}

SocketAddress TIdStack::PeerAddress(TIdStackSocketHandle handle) {
    sockaddr_storage storage{};
    TIdSocketLength length = sizeof storage;
    CheckResult(getpeername(handle, reinterpret_cast<sockaddr*>(&storage), &length));
    return SocketAddressFrom(storage);
}

void TIdStack::SetSocketOption(TIdStackSocketHandle handle, int level, int option, int32_t value) {
    CheckResult(setsockopt(handle, level, option, reinterpret_cast<const char*>(&value), sizeof value));
}

void TIdStack::SetNonBlocking(TIdStackSocketHandle handle, bool nonBlocking) {
    CheckResult(WSSetNonBlocking(handle, nonBlocking));
}

int TIdStack::CheckResult(int result) {
    if (result == -1)
        ThrowSocketError(LastSocketError());
    return result;
}

TIdStack* GStack() {
    return gStack.get();
}

void AcquireStack() {
    std::lock_guard lock(gStackLock);
    if (gStackUsageCount++ > 0)
        return;
    if (gStack) {
        --gStackUsageCount;
        throw EIdException(RSStackAlreadyCreated);
    }
    try {
        gStack = CreatePlatformStack();
    } catch (...) {
        --gStackUsageCount;
        throw;
    }
}

void ReleaseStack() {
    std::lock_guard lock(gStackLock);
    if (--gStackUsageCount == 0)
        gStack.reset();
}

int32_t StackUsageCount() {
    std::lock_guard lock(gStackLock);
    return gStackUsageCount;
}

#include "transport/SocketStack.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/Integers.h"
#include "transport/ErrorTexts.h"
#include "transport/Messages.h"
#include "transport/TransportErrors.h"

namespace {

std::mutex gStackLock;
std::unique_ptr<TIdStack> gStack;
int32_t gStackUsageCount = 0;

constexpr int32_t InterruptedCall = 10004;

// Cuts the next "."-separated part off text and reads it as an address byte (-1 if invalid).
int32_t TakeAddressPart(std::u16string_view& text) {
    const size_t dot = text.find(u'.');
    const std::u16string_view part = text.substr(0, dot);
    text = dot == std::u16string_view::npos ? std::u16string_view() : text.substr(dot + 1);
    const int32_t value = TryTextToInt(TrimControlAndBlanks(part)).value_or(-1);
    return value >= 0 && value <= 255 ? value : -1;
}

int FamilyOf(TIdIPVersion version) {
    if (version == Id_IPv4)
        return AF_INET;
    if (version == Id_IPv6)
        return AF_INET6;
    throw EIdIPVersionUnsupported(RSIPVersionUnsupported);
}

socklen_t BuildIPv4Address(const std::u16string& ip, uint16_t port, sockaddr_storage& storage) {
    auto& address = reinterpret_cast<sockaddr_in&>(storage);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (!ip.empty()) {
        std::u16string_view rest(ip);
        uint8_t* bytes = reinterpret_cast<uint8_t*>(&address.sin_addr);
        for (int i = 0; i < 4; ++i)
            bytes[i] = static_cast<uint8_t>(TakeAddressPart(rest));
    }
    return sizeof(sockaddr_in);
}

socklen_t BuildIPv6Address(const std::u16string& ip, uint16_t port, sockaddr_storage& storage) {
    auto& address = reinterpret_cast<sockaddr_in6&>(storage);
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    if (!ip.empty() && inet_pton(AF_INET6, TextToUtf8(ip).c_str(), &address.sin6_addr) != 1)
        ThrowSocketError(SocketErrorFromErrno(EINVAL));
    return sizeof(sockaddr_in6);
}

// The socket address of a numeric address text; an empty text is the any-address.
socklen_t BuildAddress(const std::u16string& ip, TIdIPVersion version, uint16_t port,
                       sockaddr_storage& storage) {
    std::memset(&storage, 0, sizeof storage);
    if (FamilyOf(version) == AF_INET)
        return BuildIPv4Address(ip, port, storage);
    return BuildIPv6Address(ip, port, storage);
}

std::u16string IPv4Text(const in_addr& address) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&address);
    return IntToText(bytes[0]) + u"." + IntToText(bytes[1]) + u"." + IntToText(bytes[2]) + u"." +
           IntToText(bytes[3]);
}

// Eight groups in upper-case hexadecimal without leading zeros, joined by ":".
std::u16string IPv6Text(const in6_addr& address) {
    static constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";
    std::u16string text;
    for (int group = 0; group < 8; ++group) {
        const unsigned value = (address.s6_addr[2 * group] << 8) | address.s6_addr[2 * group + 1];
        std::u16string digits;
        for (unsigned rest = value; rest != 0 || digits.empty(); rest >>= 4)
            digits.insert(digits.begin(), kHexDigits[rest & 0xF]);
        text += (group == 0 ? u"" : u":") + digits;
    }
    return text;
}

TIdSocketAddress AddressFrom(const sockaddr_storage& storage) {
    if (storage.ss_family == AF_INET) {
        const auto& address = reinterpret_cast<const sockaddr_in&>(storage);
        return {IPv4Text(address.sin_addr), ntohs(address.sin_port), Id_IPv4};
    }
    if (storage.ss_family == AF_INET6) {
        const auto& address = reinterpret_cast<const sockaddr_in6&>(storage);
        return {IPv6Text(address.sin6_addr), ntohs(address.sin6_port), Id_IPv6};
    }
    throw EIdIPVersionUnsupported(RSIPVersionUnsupported);
}

// Waits for a connect in progress to finish; false when cancelFd (-1: none) became readable first.
bool WaitConnectFinished(int handle, int cancelFd) {
    pollfd waits[2] = {{handle, POLLOUT, 0}, {cancelFd, POLLIN, 0}};
    const nfds_t count = cancelFd == -1 ? 1 : 2;
    while (poll(waits, count, -1) == -1)
        if (errno != EINTR)
            ThrowSocketError(SocketErrorFromErrno(errno));
    return count == 1 || waits[1].revents == 0;
}

// The outcome of a connect that has finished: raises its failure.
void CheckConnectOutcome(int handle) {
    int error = 0;
    socklen_t length = sizeof error;
    CheckSocketResult(getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length));
    if (error != 0)
        ThrowSocketError(SocketErrorFromErrno(error));
}

// FIONBIO switches the one flag in a single call, where fcntl() needs a read and a write.
int SwitchNonBlocking(int handle, bool nonBlocking) {
    int value = nonBlocking ? 1 : 0;
    return ioctl(handle, FIONBIO, &value);
}

// Leaves the socket blocking again whichever way the connect ends.
class BlockingRestorer {
public:
    explicit BlockingRestorer(int handle) : handle_(handle) {}
    ~BlockingRestorer() {
        if (handle_ != -1)
            SwitchNonBlocking(handle_, false);
    }
    void Keep() { handle_ = -1; }

private:
    int handle_;
};

[[noreturn]] void ThrowLookupError(int eaiCode, int savedErrno) {
    const int32_t classic = ClassicAddressInfoCode(eaiCode);
    if (classic == 11)
        throw EOSError(savedErrno, Utf8ToText(std::strerror(savedErrno)));
    ThrowSocketError(AddressInfoErrorCode(classic));
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

bool TIdStack::IsIPv4Literal(std::u16string_view text) {
    for (int round = 0; round < 4; ++round)
        if (TakeAddressPart(text) < 0)
            return false;
    return text.empty();
}

std::u16string TIdStack::LookupHostAddress(const std::u16string& host, TIdIPVersion version) {
    addrinfo hints{};
    hints.ai_family = FamilyOf(version);
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = getaddrinfo(TextToUtf8(host).c_str(), nullptr, &hints, &found);
    if (result != 0)
        ThrowLookupError(result, errno);
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, &freeaddrinfo);
    sockaddr_storage storage{};
    std::memcpy(&storage, list->ai_addr, list->ai_addrlen);
    return AddressFrom(storage).IP;
}

int TIdStack::OpenStreamSocket(int socketType, int protocol, bool /*overlapped*/, TIdIPVersion version) {
    // Close-on-exec: programs the launcher starts must not inherit the mail connection.
    return CheckSocketResult(socket(FamilyOf(version), socketType | SOCK_CLOEXEC, protocol));
}

void TIdStack::BindLocal(int handle, const std::u16string& ip, TIdIPVersion version, uint16_t port) {
    sockaddr_storage address;
    const socklen_t length = BuildAddress(ip, version, port, address);
    // With any port, leave the choice to connect(): it may reuse a port whose earlier connection
    // is still waiting out its close, where bind() would have to search for a port nobody holds.
    if (port == 0)
        SetSocketOption(handle, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, 1);
    CheckSocketResult(bind(handle, reinterpret_cast<const sockaddr*>(&address), length));
}

void TIdStack::ConnectSocket(int handle, const std::u16string& ip, TIdIPVersion version, uint16_t port) {
    sockaddr_storage address;
    const socklen_t length = BuildAddress(ip, version, port, address);
    if (connect(handle, reinterpret_cast<const sockaddr*>(&address), length) == 0)
        return;
    // A signal does not abort the attempt: the connect goes on, and its end is waited for.
    if (errno != EINTR)
        ThrowSocketError(SocketErrorFromErrno(errno));
    WaitConnectFinished(handle, -1);
    CheckConnectOutcome(handle);
}

bool TIdStack::BeginConnect(int handle, const std::u16string& ip, TIdIPVersion version, uint16_t port) {
    sockaddr_storage address;
    const socklen_t length = BuildAddress(ip, version, port, address);
    CheckSocketResult(SwitchNonBlocking(handle, true));
    BlockingRestorer restorer(handle);
    if (connect(handle, reinterpret_cast<const sockaddr*>(&address), length) == 0)
        return true;
    if (errno != EINPROGRESS && errno != EINTR)
        ThrowSocketError(SocketErrorFromErrno(errno));
    // A server on this machine has usually answered by now. Connecting again asks in one call:
    // made (0 or EISCONN), still in progress (EALREADY), or failed with the failure's own error.
    if (connect(handle, reinterpret_cast<const sockaddr*>(&address), length) == 0 || errno == EISCONN)
        return true;
    if (errno != EALREADY && errno != EINPROGRESS && errno != EINTR)
        ThrowSocketError(SocketErrorFromErrno(errno));
    restorer.Keep();
    return false;
}

void TIdStack::EndConnect(int handle, int cancelFd) {
    BlockingRestorer restorer(handle);
    if (!WaitConnectFinished(handle, cancelFd))
        ThrowSocketError(InterruptedCall);
    CheckConnectOutcome(handle);
}

int32_t TIdStack::ReceiveBytes(int handle, TIdBytes& buffer) {
    ssize_t received;
    do
        received = recv(handle, buffer.data(), buffer.size(), 0);
    while (received == -1 && errno == EINTR);
    return CheckSocketResult(static_cast<int>(received));
}

int32_t TIdStack::SendBytes(int handle, const TIdBytes& buffer, int32_t count, int32_t offset) {
    // An offset before the buffer would send the memory in front of it.
    if (offset < 0)
        return 0;
    const int64_t available = static_cast<int64_t>(buffer.size()) - offset;
    const int64_t amount = count < 0 ? available : std::min<int64_t>(count, available);
    if (amount <= 0)
        return 0;
    ssize_t sent;
    // MSG_NOSIGNAL: a peer that has gone must raise a socket error, not end the process.
    do
        sent = send(handle, buffer.data() + offset, static_cast<size_t>(amount), MSG_NOSIGNAL);
    while (sent == -1 && errno == EINTR);
    return CheckSocketResult(static_cast<int>(sent));
}

void TIdStack::ShutdownAndClose(int handle) {
    shutdown(handle, SHUT_WR);
    close(handle);
}

TIdSocketAddress TIdStack::LocalAddress(int handle) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    CheckSocketResult(getsockname(handle, reinterpret_cast<sockaddr*>(&storage), &length));
    return AddressFrom(storage);
}

TIdSocketAddress TIdStack::PeerAddress(int handle) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    CheckSocketResult(getpeername(handle, reinterpret_cast<sockaddr*>(&storage), &length));
    return AddressFrom(storage);
}

void TIdStack::SetSocketOption(int handle, int level, int option, int32_t value) {
    CheckSocketResult(setsockopt(handle, level, option, &value, sizeof value));
}

void TIdStack::SetNonBlocking(int handle, bool nonBlocking) {
    CheckSocketResult(SwitchNonBlocking(handle, nonBlocking));
}

bool TIdStack::WaitWritable(int handle, int32_t ms) {
    pollfd wait{handle, POLLOUT, 0};
    int ready;
    // A signal restarts the wait with its whole time: the callers bound it by their deadline.
    while ((ready = poll(&wait, 1, ms < 0 ? -1 : ms)) == -1)
        if (errno != EINTR)
            ThrowSocketError(SocketErrorFromErrno(errno));
    return ready > 0;
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
    gStack = std::make_unique<TIdStack>();
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

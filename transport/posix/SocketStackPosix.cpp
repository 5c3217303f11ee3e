// The socket stack over the POSIX socket calls.
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "transport/ErrorTexts.h"
#include "transport/SocketAddress.h"
#include "transport/SocketStack.h"
#include "transport/TransportErrors.h"
#include "transport/WakeSignal.h"

namespace {

[[noreturn]] void ThrowLookupError(int eaiCode, int savedErrno) {
    const int32_t classic = ClassicAddressInfoCode(eaiCode);
    if (classic == 11)
        throw EOSError(savedErrno, Utf8ToText(std::strerror(savedErrno)));
    ThrowSocketError(AddressInfoErrorCode(classic));
}

class PosixSocketStack : public TIdStack {
public:
    std::u16string LookupHostAddress(const std::u16string& host, TIdIPVersion version) override {
        addrinfo hints{};
        hints.ai_family = AddressFamilyOf(version);
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int result = getaddrinfo(TextToUtf8(host).c_str(), nullptr, &hints, &found);
        if (result != 0)
            ThrowLookupError(result, errno);
        std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, &freeaddrinfo);
        sockaddr_storage storage{};
        std::memcpy(&storage, list->ai_addr, list->ai_addrlen);
        return SocketAddressFrom(storage).IP;
    }

    TIdStackSocketHandle OpenStreamSocket(int socketType, int protocol, bool /*overlapped*/,
                                          TIdIPVersion version) override {
        // Close-on-exec: programs the launcher starts must not inherit the mail connection.
        return CheckResult(socket(AddressFamilyOf(version), socketType | SOCK_CLOEXEC, protocol));
    }

    void ShutdownAndClose(TIdStackSocketHandle handle) override {
        shutdown(handle, SHUT_WR);
        close(handle);
    }

    bool WaitWritable(TIdStackSocketHandle handle, int32_t ms) override {
        pollfd wait{handle, POLLOUT, 0};
        int ready;
        // A signal restarts the wait with its whole time: the callers bound it by their deadline.
        while ((ready = poll(&wait, 1, ms < 0 ? -1 : ms)) == -1)
            if (errno != EINTR)
                ThrowSocketError(SocketErrorFromErrno(errno));
        return ready > 0;
    }

protected:
    int32_t LastSocketError() override { return SocketErrorFromErrno(errno); }
    int32_t TranslateError(int nativeError) override { return SocketErrorFromErrno(nativeError); }

    int WSRecv(TIdStackSocketHandle handle, void* data, size_t size) override {
        ssize_t received;
        do
            received = recv(handle, data, size, 0);
        while (received == -1 && errno == EINTR);
        return static_cast<int>(received);
    }

    int WSSend(TIdStackSocketHandle handle, const void* data, size_t size) override {
        ssize_t sent;
        // MSG_NOSIGNAL: a peer that has gone must raise a socket error, not end the process.
        do
            sent = send(handle, data, size, MSG_NOSIGNAL);
        while (sent == -1 && errno == EINTR);
        return static_cast<int>(sent);
    }

    // FIONBIO switches the one flag in a single call, where fcntl() needs a read and a write.
    int WSSetNonBlocking(TIdStackSocketHandle handle, bool nonBlocking) override {
        int value = nonBlocking ? 1 : 0;
        return ioctl(handle, FIONBIO, &value);
    }

    // Connecting again asks in one call: made (0 or EISCONN), still in progress (EALREADY), or
    // failed with the failure's own error.
    bool ConnectFinishedAtOnce(TIdStackSocketHandle handle, const void* address, int length) override {
        if (connect(handle, static_cast<const sockaddr*>(address), static_cast<socklen_t>(length)) == 0 ||
            errno == EISCONN)
            return true;
        if (errno != EALREADY && errno != EINPROGRESS && errno != EINTR)
            ThrowSocketError(SocketErrorFromErrno(errno));
        return false;
    }

    bool WaitConnectFinished(TIdStackSocketHandle handle, const WakeSignal* cancel) override {
        pollfd waits[2] = {{handle, POLLOUT, 0}, {cancel ? cancel->NativeHandle() : -1, POLLIN, 0}};
        const nfds_t count = cancel ? 2 : 1;
        while (poll(waits, count, -1) == -1)
            if (errno != EINTR)
                ThrowSocketError(SocketErrorFromErrno(errno));
        return count == 1 || waits[1].revents == 0;
    }
};

} // namespace

std::unique_ptr<TIdStack> CreatePlatformStack() {
    return std::make_unique<PosixSocketStack>();
}

// The socket stack over Windows Sockets 2, linked directly: its error numbers are the program's
// own, so they pass through unchanged.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

#include "base/WindowsText.h"
#include "transport/ErrorTexts.h"
#include "transport/SocketAddress.h"
#include "transport/SocketStack.h"
#include "transport/TransportErrors.h"
#include "transport/WakeSignal.h"

#include <windows.h>

namespace {

// How often a wait for a connect in progress looks at its cancel signal.
constexpr int ConnectWaitSliceMs = 20;

// Winsock is started once per process, by the first stack, and cleaned up at process end.
void StartSocketLibrary() {
    static bool started = false;
    if (started)
        return;
    WSADATA data;
    const int result = WSAStartup(MAKEWORD(2, 2), &data);
    if (result != 0)
        throw EIdStackInitializationFailed(u"Error on loading Winsock2 library (WS2_32.DLL): " +
                                           SystemErrorText(static_cast<uint32_t>(result)));
    started = true;
    std::atexit([] { WSACleanup(); });
}

// select() on one socket for writable (connected) or error (failed), at most ms milliseconds:
// 1 when the connect has finished, 0 when it has not.
int SelectConnectEnd(SOCKET handle, int ms) {
    fd_set written;
    fd_set failed;
    FD_ZERO(&written);
    FD_ZERO(&failed);
    FD_SET(handle, &written);
    FD_SET(handle, &failed);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    const int ready = select(0, nullptr, &written, &failed, &limit);
    if (ready == SOCKET_ERROR)
        ThrowSocketError(WSAGetLastError());
    return ready;
}

class TIdStackWindows : public TIdStack {
public:
    TIdStackWindows() { StartSocketLibrary(); }

    std::u16string LookupHostAddress(const std::u16string& host, TIdIPVersion version) override {
        ADDRINFOW hints{};
        hints.ai_family = AddressFamilyOf(version);
        hints.ai_socktype = SOCK_STREAM;
        ADDRINFOW* found = nullptr;
        const int result = GetAddrInfoW(WideChars(host), nullptr, &hints, &found);
        if (result != 0)
            ThrowSocketError(AddressInfoErrorCode(result));
        std::unique_ptr<ADDRINFOW, decltype(&FreeAddrInfoW)> list(found, &FreeAddrInfoW);
        sockaddr_storage storage{};
        std::memcpy(&storage, list->ai_addr, list->ai_addrlen);
        return SocketAddressFrom(storage).IP;
    }

    TIdStackSocketHandle OpenStreamSocket(int socketType, int protocol, bool overlapped,
                                          TIdIPVersion version) override {
        // Not inheritable: programs the launcher starts must not hold the mail connection.
        const DWORD flags = WSA_FLAG_NO_HANDLE_INHERIT | (overlapped ? WSA_FLAG_OVERLAPPED : 0);
        const SOCKET handle = WSASocketW(AddressFamilyOf(version), socketType, protocol, nullptr, 0, flags);
        if (handle == INVALID_SOCKET)
            ThrowSocketError(WSAGetLastError());
        return handle;
    }

    void ShutdownAndClose(TIdStackSocketHandle handle) override {
        shutdown(handle, SD_SEND);
        closesocket(handle);
    }

    bool WaitWritable(TIdStackSocketHandle handle, int32_t ms) override {
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(handle, &writable);
        timeval limit{ms / 1000, (ms % 1000) * 1000};
        const int ready = select(0, nullptr, &writable, nullptr, ms < 0 ? nullptr : &limit);
        if (ready == SOCKET_ERROR)
            ThrowSocketError(WSAGetLastError());
        return ready > 0;
    }

protected:
    int32_t LastSocketError() override { return WSAGetLastError(); }
    int32_t TranslateError(int nativeError) override { return nativeError; }

    int WSRecv(TIdStackSocketHandle handle, void* data, size_t size) override {
        return recv(handle, static_cast<char*>(data), ClampedSize(size), 0);
    }

    int WSSend(TIdStackSocketHandle handle, const void* data, size_t size) override {
        return send(handle, static_cast<const char*>(data), ClampedSize(size), 0);
    }

    int WSSetNonBlocking(TIdStackSocketHandle handle, bool nonBlocking) override {
        u_long value = nonBlocking ? 1 : 0;
        return ioctlsocket(handle, FIONBIO, &value);
    }

    bool ConnectFinishedAtOnce(TIdStackSocketHandle handle, const void* /*address*/,
                               int /*length*/) override {
        if (SelectConnectEnd(handle, 0) == 0)
            return false;
        CheckConnectOutcome(handle);
        return true;
    }

    // select() cannot wait on an event as well: it waits in short slices and looks at the
    // cancel signal between them, so a cancelled wait ends within one slice.
    bool WaitConnectFinished(TIdStackSocketHandle handle, const WakeSignal* cancel) override {
        while (!(cancel && cancel->Raised()))
            if (SelectConnectEnd(handle, ConnectWaitSliceMs) > 0)
                return true;
        return false;
    }

private:
    static int ClampedSize(size_t size) {
        return static_cast<int>(std::min<size_t>(size, std::numeric_limits<int>::max()));
    }
};

} // namespace

std::unique_ptr<TIdStack> CreatePlatformStack() {
    return std::make_unique<TIdStackWindows>();
}

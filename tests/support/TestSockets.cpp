#include "tests/support/TestSockets.h"

#include <cerrno>

#include "transport/NativeSockets.h"

#ifdef _WIN32
#include <mutex>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using PollEntry = WSAPOLLFD;
int PollSockets(PollEntry* entries, unsigned long count, int ms) {
    return WSAPoll(entries, count, ms);
}
bool ConnectPending() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
bool SendWouldBlock() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
void SetNonBlocking(TestSocket socket) {
    u_long on = 1;
    ioctlsocket(socket, FIONBIO, &on);
}
constexpr int NoSignal = 0;
#else
using PollEntry = pollfd;
int PollSockets(PollEntry* entries, nfds_t count, int ms) {
    int ready;
    while ((ready = poll(entries, count, ms)) == -1 && errno == EINTR) {
    }
    return ready;
}
bool ConnectPending() {
    return errno == EINPROGRESS;
}
bool SendWouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}
void SetNonBlocking(TestSocket socket) {
    fcntl(socket, F_SETFL, O_NONBLOCK);
}
constexpr int NoSignal = MSG_NOSIGNAL;
#endif

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

void SetOption(TestSocket socket, int level, int option, const void* value, int size) {
    setsockopt(socket, level, option, static_cast<const char*>(value), static_cast<TIdSocketLength>(size));
}

void NoDelay(TestSocket socket) {
    const int on = 1;
    SetOption(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

} // namespace

TestSocket OpenTestSocket() {
#ifdef _WIN32
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
    return WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
#else
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
#endif
}

void CloseTestSocket(TestSocket socket) {
#ifdef _WIN32
    closesocket(socket);
#else
    close(socket);
#endif
}

uint16_t ListenOnLoopback(TestSocket socket, int backlog) {
    sockaddr_in address = LoopbackAddress(0);
    TIdSocketLength length = sizeof address;
    if (bind(socket, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(socket, backlog) != 0 ||
        getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

bool ConnectToLoopback(TestSocket socket, uint16_t port, int waitMs) {
    const sockaddr_in address = LoopbackAddress(port);
    SetNonBlocking(socket);
    if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    return ConnectPending() && WaitTestSocket(socket, true, waitMs);
}

bool ConnectBlockingToLoopback(TestSocket socket, uint16_t port, int receiveTimeoutMs) {
#ifdef _WIN32
    const DWORD timeout = static_cast<DWORD>(receiveTimeoutMs);
#else
    const timeval timeout{receiveTimeoutMs / 1000, (receiveTimeoutMs % 1000) * 1000};
#endif
    SetOption(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    NoDelay(socket);
    const sockaddr_in address = LoopbackAddress(port);
    return connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool WaitTestSocket(TestSocket socket, bool forWriting, int ms) {
    PollEntry entry{};
    entry.fd = socket;
    entry.events = forWriting ? POLLOUT : POLLIN;
    return PollSockets(&entry, 1, ms) > 0;
}

TestSocket AcceptTestClient(TestSocket listener) {
#ifdef _WIN32
    const TestSocket client = accept(listener, nullptr, nullptr);
    if (client != NoTestSocket)
        SetNonBlocking(client);
#else
    const TestSocket client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
#endif
    if (client != NoTestSocket)
        NoDelay(client);
    return client;
}

int ReceiveSome(TestSocket socket, char* buffer, size_t size) {
    return static_cast<int>(recv(socket, buffer, static_cast<int>(size), 0));
}

int SendNow(TestSocket socket, const char* bytes, size_t size) {
#ifdef _WIN32
    const int flags = 0; // the accepted socket is non-blocking
#else
    const int flags = MSG_NOSIGNAL | MSG_DONTWAIT;
#endif
    const auto sent = send(socket, bytes, static_cast<int>(size), flags);
    if (sent < 0)
        return SendWouldBlock() ? 0 : -1;
    return static_cast<int>(sent);
}

bool SendEverything(TestSocket socket, const char* bytes, size_t size) {
    return send(socket, bytes, static_cast<int>(size), NoSignal) == static_cast<int>(size);
}

void ShutdownSending(TestSocket socket) {
#ifdef _WIN32
    shutdown(socket, SD_SEND);
#else
    shutdown(socket, SHUT_WR);
#endif
}

bool RunningUnderWine() {
#ifdef _WIN32
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

bool ResetsReachThePeer() {
    return !RunningUnderWine();
}

void ResetOnClose(TestSocket socket) {
    const linger resetOnClose{1, 0};
    SetOption(socket, SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof resetOnClose);
}

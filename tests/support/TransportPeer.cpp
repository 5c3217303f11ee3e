#include "tests/support/TransportPeer.h"

#include "tests/support/LoopbackSockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd wait{fd, events, 0};
    int ready;
    while ((ready = poll(&wait, 1, timeoutMs)) == -1 && errno == EINTR) {
    }
    return ready > 0;
}

// Starts a non-blocking connect to 127.0.0.1:port; true when it completed within waitMs.
bool ConnectCompletes(int socket, uint16_t port, int waitMs) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    fcntl(socket, F_SETFL, O_NONBLOCK);
    if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return true;
    return errno == EINPROGRESS && WaitFor(socket, POLLOUT, waitMs);
}

} // namespace

void TransportPeerConnection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return;
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
}

void TransportPeerConnection::Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string TransportPeerConnection::ReadLine(int timeoutMs) {
    for (;;) {
        const size_t lineFeed = pending_.find('\n');
        if (lineFeed != std::string::npos) {
            std::string line = pending_.substr(0, lineFeed);
            pending_.erase(0, lineFeed + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        char chunk[4096];
        if (!WaitFor(socket_, POLLIN, timeoutMs))
            return {};
        const ssize_t received = recv(socket_, chunk, sizeof chunk, 0);
        if (received <= 0)
            return {};
        pending_.append(chunk, static_cast<size_t>(received));
    }
}

std::string TransportPeerConnection::ReadUntilClosed(int timeoutMs) {
    std::string all = std::move(pending_);
    pending_.clear();
    char chunk[4096];
    ssize_t received;
    while (WaitFor(socket_, POLLIN, timeoutMs) && (received = recv(socket_, chunk, sizeof chunk, 0)) > 0)
        all.append(chunk, static_cast<size_t>(received));
    return all;
}

void TransportPeerConnection::Close() {
    if (socket_ != -1)
        close(socket_);
    socket_ = -1;
}

void TransportPeerConnection::Abort() {
    if (socket_ == -1)
        return;
    const linger resetOnClose{1, 0};
    setsockopt(socket_, SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof resetOnClose);
    Close();
}

TransportScriptedPeer::TransportScriptedPeer(Script script) : script_(std::move(script)) {
    listener_ = OpenLoopbackListener(16, port_);
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread(&TransportScriptedPeer::Run, this);
}

TransportScriptedPeer::~TransportScriptedPeer() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(stopFd_, &one, sizeof one);
    thread_.join();
    close(stopFd_);
    close(listener_);
}

void TransportScriptedPeer::Run() {
    for (;;) {
        pollfd waits[2] = {{listener_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (poll(waits, 2, -1) == -1 && errno == EINTR)
            continue;
        // Connections already waiting are served before a stop is obeyed.
        if (waits[0].revents == 0 && waits[1].revents != 0)
            return;
        const int socket = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket == -1)
            continue;
        ++accepted_;
        TransportPeerConnection connection(socket);
        script_(connection);
        connection.Close();
    }
}

uint16_t TransportRefusingPort() {
    return FreeLoopbackPort();
}

TransportFullListener::TransportFullListener() {
    listener_ = OpenLoopbackListener(0, port_);
    // Connect until one attempt stays unanswered: from then on the queue drops every SYN.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        fillers_.push_back(filler);
        if (!ConnectCompletes(filler, port_, 300))
            return;
    }
    throw std::runtime_error("the accept queue never filled");
}

TransportFullListener::~TransportFullListener() {
    for (int filler : fillers_)
        close(filler);
    StopListening();
}

void TransportFullListener::StopListening() {
    if (listener_ != -1)
        close(listener_);
    listener_ = -1;
}

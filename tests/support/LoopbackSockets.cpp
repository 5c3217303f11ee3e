#include "tests/support/LoopbackSockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

// Starts a non-blocking connect to 127.0.0.1:port; true when it completed within waitMs.
bool ConnectCompletes(int socket, uint16_t port, int waitMs) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    fcntl(socket, F_SETFL, O_NONBLOCK);
    if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return true;
    if (errno != EINPROGRESS)
        return false;
    pollfd wait{socket, POLLOUT, 0};
    int ready;
    while ((ready = poll(&wait, 1, waitMs)) == -1 && errno == EINTR) {
    }
    return ready > 0;
}

} // namespace

int OpenLoopbackListener(int backlog, uint16_t& port) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener == -1)
        throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, backlog) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(listener);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return listener;
}

uint16_t FreeLoopbackPort() {
    uint16_t port = 0;
    close(OpenLoopbackListener(1, port));
    return port;
}

FullLoopbackListener::FullLoopbackListener() {
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

FullLoopbackListener::~FullLoopbackListener() {
    for (int filler : fillers_)
        close(filler);
    StopListening();
}

void FullLoopbackListener::StopListening() {
    if (listener_ != -1)
        close(listener_);
    listener_ = -1;
}

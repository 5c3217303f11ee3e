#include "tests/support/LoopbackSockets.h"

#include <stdexcept>

TestSocket OpenLoopbackListener(int backlog, uint16_t& port) {
    const TestSocket listener = OpenTestSocket();
    if (listener == NoTestSocket)
        throw std::runtime_error("socket failed");
    port = ListenOnLoopback(listener, backlog);
    if (port == 0) {
        CloseTestSocket(listener);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    return listener;
}

uint16_t FreeLoopbackPort() {
    uint16_t port = 0;
    CloseTestSocket(OpenLoopbackListener(1, port));
    return port;
}

FullLoopbackListener::FullLoopbackListener() {
    listener_ = OpenLoopbackListener(0, port_);
    // Connect until one attempt stays unanswered: from then on the queue drops every SYN.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const TestSocket filler = OpenTestSocket();
        fillers_.push_back(filler);
        if (!ConnectToLoopback(filler, port_, 300))
            return;
    }
    throw std::runtime_error("the accept queue never filled");
}

FullLoopbackListener::~FullLoopbackListener() {
    for (TestSocket filler : fillers_)
        CloseTestSocket(filler);
    StopListening();
}

void FullLoopbackListener::StopListening() {
    if (listener_ != NoTestSocket)
        CloseTestSocket(listener_);
    listener_ = NoTestSocket;
}

#pragma once
// Loopback sockets for the test servers and the connect tests: a listener on a port the system
// chooses, a port that nobody listens on, and a listener whose accept queue is full.

#include <cstdint>
#include <vector>

#include "tests/support/TestSockets.h"

// A socket listening on 127.0.0.1 with the given backlog; `port` receives the port chosen.
// Throws std::runtime_error when the system refuses.
TestSocket OpenLoopbackListener(int backlog, uint16_t& port);

// A port of 127.0.0.1 that was free a moment ago: nothing listens there, so connects are refused
// (until a server the test starts binds it).
uint16_t FreeLoopbackPort();

// A listener whose accept queue is already full: a further connect to it hangs unanswered.
class FullLoopbackListener {
public:
    // Throws std::runtime_error when the queue does not fill.
    FullLoopbackListener();
    ~FullLoopbackListener();
    FullLoopbackListener(const FullLoopbackListener&) = delete;
    FullLoopbackListener& operator=(const FullLoopbackListener&) = delete;

    uint16_t Port() const { return port_; }
    // Stops listening: connects still waiting are refused at their next attempt.
    void StopListening();

private:
    TestSocket listener_ = NoTestSocket;
    uint16_t port_ = 0;
    std::vector<TestSocket> fillers_;
};

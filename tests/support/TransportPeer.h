#pragma once
// A scripted TCP peer on 127.0.0.1 for transport tests: every accepted connection runs the
// script on the peer's own thread, one connection after another. Also the loopback fixtures a
// connect needs: a port nobody listens on, and a listener whose accept queue is full, so that
// connects to it hang.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// One accepted connection, as the script sees it.
class TransportPeerConnection {
public:
    explicit TransportPeerConnection(int socket) : socket_(socket) {}

    // Sends bytes as they are (each call is one send, so chunks arrive separately when paced).
    void Send(std::string_view bytes);
    // Waits ms milliseconds.
    void Pause(int ms);
    // The next line sent by the client, without its LF (and without a CR before it); empty
    // when the client closed or nothing came within timeoutMs.
    std::string ReadLine(int timeoutMs = 10000);
    // Everything the client sends until it closes or timeoutMs pass.
    std::string ReadUntilClosed(int timeoutMs = 10000);
    // Closes the connection in an orderly way.
    void Close();
    // Closes with a reset (RST) instead of an orderly close.
    void Abort();
    bool Closed() const { return socket_ == -1; }
    int Socket() const { return socket_; }

private:
    int socket_;
    std::string pending_;
};

class TransportScriptedPeer {
public:
    using Script = std::function<void(TransportPeerConnection&)>;

    // Listens at once on a free port of 127.0.0.1.
    explicit TransportScriptedPeer(Script script);
    // Stops accepting and waits for the script running to end.
    ~TransportScriptedPeer();
    TransportScriptedPeer(const TransportScriptedPeer&) = delete;
    TransportScriptedPeer& operator=(const TransportScriptedPeer&) = delete;

    uint16_t Port() const { return port_; }
    int AcceptedCount() const { return accepted_.load(); }

private:
    void Run();

    Script script_;
    int listener_ = -1;
    int stopFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

// A loopback port with no listener: connects to it are refused.
uint16_t TransportRefusingPort();

// A listener whose accept queue is already full: a further connect to it hangs unanswered.
class TransportFullListener {
public:
    TransportFullListener();
    ~TransportFullListener();
    TransportFullListener(const TransportFullListener&) = delete;
    TransportFullListener& operator=(const TransportFullListener&) = delete;

    uint16_t Port() const { return port_; }
    // Stops listening: connects still waiting are refused at their next attempt.
    void StopListening();

private:
    int listener_ = -1;
    uint16_t port_ = 0;
    std::vector<int> fillers_;
};

#pragma once
// A TCP client connected to a scripted loopback peer, for the line I/O and connection tests.

#include <chrono>
#include <memory>

#include "tests/support/TransportPeer.h"
#include "transport/TcpClient.h"

struct ConnectedClient {
    // Short read time-out: a silent peer ends a wait in 300 ms instead of the program's 5000.
    explicit ConnectedClient(TransportScriptedPeer::Script script, int32_t readTimeout = 300)
        : peer(std::move(script)) {
        client.SetHost(u"127.0.0.1");
        client.SetPort(peer.Port());
        client.SetConnectTimeout(5000);
        client.SetReadTimeout(readTimeout);
        client.OpenTcpConnection();
    }
    TIdIOHandlerStack& IO() { return *client.IOHandler(); }

    TransportScriptedPeer peer;
    TIdTCPClientCustom client;
};

inline int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

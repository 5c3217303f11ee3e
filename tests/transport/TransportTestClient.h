#pragma once
// A TCP client connected to a scripted loopback server, for the line I/O and connection tests.

#include <chrono>
#include <memory>

#include "tests/support/ScriptedServer.h"
#include "transport/TcpClient.h"

struct ConnectedClient {
    // Short read time-out: a silent server ends a wait in 300 ms instead of the program's 5000.
    // The server runs the script on every connection the client opens.
    explicit ConnectedClient(Script script, int32_t readTimeout = 300) : server(std::move(script)) {
        client.SetHost(u"127.0.0.1");
        client.SetPort(server.Port());
        client.SetConnectTimeout(5000);
        client.SetReadTimeout(readTimeout);
        client.OpenTcpConnection();
    }
    TIdIOHandlerStack& IO() { return *client.IOHandler(); }

    ScriptedServer server;
    TIdTCPClientCustom client;
};

inline int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

#pragma once
// One whole mail check, as the program runs it, against the scripted peer on loopback (see
// ScriptedPeer.h). Whatever the server does, only the program's own exceptions come out, the
// check ends within its session limit, spends no more processor time than the server's
// activity explains (no busy wait while the server stalls), and leaves no connection, no
// descriptor and no unread input behind. (A failure of the connection query on the check's
// error path, such as a reset by the server, is left to the program's error report, as the
// check does; the connection may then stay until the next check, but no descriptor outlives
// the client.)

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "transport/TcpConnection.h"

// The port the peer listens on.
uint16_t ScriptedPeerPort();

// Runs `check` (the check of `client`, which is set up for ScriptedPeerPort and `sessionLimit`)
// against a peer playing `script`, and ends the run as a finding when a property breaks.
// `check` returns whether it left an error of the connection query for the program to report.
void RunHostileCheck(std::string_view script, std::unique_ptr<TIdTCPConnection> client,
                     const std::function<bool()>& check, std::chrono::milliseconds sessionLimit);

// The check as the program runs it, for a client with ConnectAndLogIn, QueryMessageCount and
// CloseSession: a failure is dropped after the connection is closed. An error of the connection
// query there is not caught: the program reports it. Whether it did.
template <class Client> bool CheckLeftAnErrorToReport(Client& client) {
    try {
        client.ConnectAndLogIn();
        client.QueryMessageCount();
        client.CloseSession(true);
    } catch (const Exception&) {
        bool open = false;
        try {
            open = client.TcpConnectionIsOpen();
        } catch (const Exception&) {
            return true;
        }
        if (open) {
            try {
                client.CloseSession(true);
            } catch (const Exception&) {
            }
        }
    }
    return false;
}

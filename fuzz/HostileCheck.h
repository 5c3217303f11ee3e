#pragma once
// Whole mail checks, as the program runs them, against the scripted peer on loopback (see
// ScriptedPeer.h). Whatever the server does, only the program's own exceptions come out, each
// check ends within its session limit, spends no more processor time than the server's activity
// explains (no busy wait while the server stalls), never signs in nor sends the password in the
// clear when TLS is required, and leaves no connection, no descriptor and no unread input behind. (A
// failure of the connection query on the check's error path, such as a reset by the server, is
// left to the program's error report, as the check does; the connection may then stay until the
// next check, but no descriptor outlives the client.)
//
// An input holds the scripts of up to three connections, one after another with the same
// client (which may offer the TLS session of the one before), separated by lines "#next". A
// script's first lines may be options for the client's check ("#apop", "#offered" ...), which
// the server skips.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/Exceptions.h"
#include "transport/TcpConnection.h"

struct CheckOutcome {
    bool errorLeftToReport = false;
    bool tlsRequired = false;            // then the password must not reach the server in the clear
    std::string password;                // as it goes on the wire
    std::chrono::milliseconds timeLimit; // what the check may take
};

// The port and the host the client of a connection's script aims at: 127.0.0.1, or 127.0.0.2 when
// the script asks "#at2"; by the name "localhost" when it asks "#byname".
uint16_t ScriptedPeerPort(std::string_view script);
std::u16string ScriptedPeerHost(std::string_view script);

// Whether one of the script's first lines is the option "#<option>".
bool ScriptAsks(std::string_view script, std::string_view option);

// Runs `check` (the check of `client`, set up for ScriptedPeerPort as the connection's script
// asks) against a peer playing each connection's script, and ends the run as a finding when a
// property breaks.
void RunHostileChecks(std::string_view input, std::unique_ptr<TIdTCPConnection> client,
                      const std::function<CheckOutcome(std::string_view script)>& check);

// The check's steps as the program runs them: a failure is dropped after the connection is
// closed with `close`. An error of the connection query there is not caught: the program
// reports it. Whether it did.
bool CheckLeftAnErrorToReport(TIdTCPConnection& client, const std::function<void()>& steps,
                              const std::function<void()>& close);

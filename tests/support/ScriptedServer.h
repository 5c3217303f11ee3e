#pragma once
// A scripted TCP server for protocol and transport tests. It listens on 127.0.0.1 (port chosen
// by the system), accepts one connection at a time, runs a script of steps on it on its own
// thread and records every byte the client sent. A script reads like a transcript:
//
//     const Script script = {
//         ServerSays("+OK ready"),
//         ClientSends("CAPA"),   ServerSays("-ERR"),
//         ClientSends("USER u"), ServerSays("+OK"),
//     };
//     ScriptedServer server(script);
//     ... run the client against server.Port() ...
//     EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script));
//
// After `ServerStartsTls()` the connection runs over TLS with the test certificate for 127.0.0.1
// (TestCertificates): later steps send and await through it, and ReceivedBytes records what the
// client sent inside TLS (the handshake itself is not recorded).
//
// When a script runs out without a `CloseConnection` or `ResetConnection` step the server keeps
// reading (and recording) until the client closes, so a command sent where none was expected
// shows up in ReceivedBytes.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "tests/support/TestSockets.h"

typedef struct ssl_st SSL;

struct ScriptStep {
    enum Kind {
        kSend,
        kDripFeed,
        kAwaitLine,
        kStaySilent,
        kClose,
        kReset,
        kSendForever,
        kStartTls,
        kSendTagged,
        kCutRecord
    };
    Kind kind = kSend;
    std::string bytes;                 // what to send, or the line the client is expected to send
    std::chrono::milliseconds delay{}; // per byte (drip-feed), or how long to stay silent
};
using Script = std::vector<ScriptStep>;

// Sends the line followed by CR LF.
ScriptStep ServerSays(std::string line);
// Sends the bytes exactly as given (no CR LF added): partial lines, bare LF, blank lines.
ScriptStep ServerSendsBytes(std::string bytes);
// Sends the bytes one at a time with a pause after each, still recording what the client sends.
ScriptStep ServerDripFeeds(std::string bytes, std::chrono::milliseconds perByte);
// Waits (up to 30 s) for one line from the client; `line` is what the client is expected to
// send, without CR LF. It is not checked here: compare ReceivedBytes with ClientBytes.
ScriptStep ClientSends(std::string line);
// Sends nothing for the given time, still recording what the client sends.
ScriptStep ServerStaysSilent(std::chrono::milliseconds duration);
// Closes the connection at once, in an orderly way (FIN).
ScriptStep CloseConnection();
// Closes the connection at once with a reset (RST).
ScriptStep ResetConnection();
// Sends the line followed by CR LF over and over until the client closes the connection.
ScriptStep ServerSendsForever(std::string line);
// Sends the tag of the client's last IMAP command, a space, `rest` and CR LF: the command's
// tagged reply ("A3" and "OK done" give "A3 OK done"). A command is a line with a tag and a name
// that does not continue a literal ("{N}" at the end of the line before): not "DONE", which ends
// IDLE, nor the answer to a continuation request.
ScriptStep ServerTagged(std::string rest);
// Runs the server side of a TLS handshake (up to 10 s); the connection ends when it fails.
ScriptStep ServerStartsTls();
// Over TLS: seals the line with CR LF into one record, sends its first half, stays silent for
// `pause` (still recording) and then sends the rest.
ScriptStep ServerSendsRecordCutShort(std::string line, std::chrono::milliseconds pause);

// The parts one after another: transcripts built from shared pieces.
Script JoinScripts(std::initializer_list<Script> parts);

// The exact bytes a correct client sends for the script: each ClientSends line with CR LF.
std::string ClientBytes(const Script& script);

class ScriptedServer {
public:
    // Runs the script on every connection, one connection after another.
    explicit ScriptedServer(Script script);
    // Runs the scripts once each, one per connection in the order accepted; accepts no more.
    explicit ScriptedServer(std::vector<Script> scriptPerConnection);
    // Stops every step at once and closes every socket.
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    uint16_t Port() const { return port_; }

    // Whether a script can start TLS here: not in the Windows build, which has no TLS library
    // to serve with (the system's own needs a certificate with its key in the system's store).
    static bool CanServeTls();

    // Waits (up to `limit`) until the given connection's script has ended and the client has
    // closed, then returns every byte the client sent on it (empty when it never connected).
    std::string ReceivedBytes(size_t connection = 0,
                              std::chrono::milliseconds limit = std::chrono::seconds(30)) const;
    // Whether, within `limit`, every script has run to its end: with one script per connection,
    // each on its connection; with one script for all, on every connection accepted (at least one).
    bool WaitUntilDone(std::chrono::milliseconds limit = std::chrono::seconds(30)) const;
    // How many connections were accepted so far.
    size_t AcceptedConnections() const;

private:
    struct Connection {
        std::string received;
        bool done = false;
    };

    enum class ReadResult { kData, kIdle, kClosed };

    void Run();
    // The next connection, or NoTestSocket once the server is stopping.
    TestSocket Accept();
    void Serve(TestSocket socket, size_t index, const Script& script);
    bool RunStep(TestSocket socket, size_t index, const ScriptStep& step, size_t& lineStart);
    // Waits up to `timeout` for bytes from the client and records them.
    ReadResult ReadOnce(TestSocket socket, size_t index, std::chrono::milliseconds timeout);
    // Reads what the client sent until `deadline`; false once the client has closed.
    bool RecordUntil(TestSocket socket, size_t index, std::chrono::steady_clock::time_point deadline);
    bool AwaitLine(TestSocket socket, size_t index, size_t& lineStart);
    bool SendAll(TestSocket socket, std::string_view bytes);
    // The tag of the last command among the client's lines that end before lineEnd.
    std::string LastCommandTag(size_t index, size_t lineEnd) const;
    // Sends on the socket itself, past TLS.
    bool SendRaw(TestSocket socket, std::string_view bytes);
    // The bytes as one TLS record, not sent (empty without TLS).
    std::string SealRecord(std::string_view bytes);
    // False when the handshake failed (or, in the Windows build, which has no TLS to serve with).
    bool StartTls(TestSocket socket);
    void EndTls();
    // Receives into buffer, through TLS once it runs: the count, 0 when nothing came within
    // the wait, -1 when the client has closed.
    int Receive(TestSocket socket, char* buffer, size_t size);
    // Whether TLS holds decrypted bytes that the socket will not signal.
    bool TlsHoldsBytes() const;
    void DrainUntilClosed(TestSocket socket, size_t index);
    void MarkDone(size_t index);

    std::vector<Script> scripts_;
    bool everyConnection_; // the one script runs on every connection
    TestSocket listener_ = NoTestSocket;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Connection> connections_; // one per connection accepted, in order
    // The TLS of the connection being served (one at a time), or none.
    SSL* tls_ = nullptr;
    std::thread thread_;
};

#pragma once
// The server side of one whole check in the hostile-peer harnesses: it accepts one connection on
// a loopback listener and plays the input as its script, in the clear or, from a "#tls" line on,
// over TLS with the test certificate (a real handshake, then the script's bytes as TLS records).
//
// The script is the input's lines: each line is sent as it stands (with its LF; a last piece
// without one is sent without), through TLS once it is on, except these:
//   #<          send what is held back, then wait for one line from the client
//   #~N         stay silent N ms (at most 20)
//   #>text      send "text" without a line end (a line in pieces)
//   #*N text    send "text" CR LF N times (at most 20000, 1 MiB in all)
//   #+N text    send "text" N times without line ends (an over-long line)
//   #!          close the connection
//   #tls        the TLS handshake as the server, at most TLS 1.3 (#tls12: at most TLS 1.2;
//               #tlsbad: with a certificate from an authority the client does not trust;
//               #tlsexpired: with an expired one for 127.0.0.2; #tlscn: with one that names
//               "localhost" only in its common name)
//   #|N         from here on only N more bytes reach the wire, the rest is held back until the
//               next #| or #<: records cut at any byte
//   #.          the close notification
//   #renew      a key update request (TLS 1.3) or a renegotiation request (TLS 1.2)
//   #$N text    a record of content type N holding "text" as it stands, unencrypted (alerts,
//               garbage records)
//   #=text      "text" on the wire as it stands, past TLS
// Other lines that start with "#" are skipped. At the end of the script all that is held back is sent; then
// the server shuts its side (with TLS, without a close notification) and waits for the client to close.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

typedef struct ssl_st SSL;
typedef struct bio_st BIO;

// A listener on `address` (of 127.0.0.0/8) and a port of the system's choice.
int OpenLoopbackListener(uint16_t& port, const char* address = "127.0.0.1");
// The descriptors the process holds.
int OpenDescriptors();
// Makes the test certificates and trusts their authority: before the first TLS client.
void PrepareTestCertificates();

class ScriptedPeer {
public:
    using Clock = std::chrono::steady_clock;

    // Accepts the client's connection, waiting a bounded time for it.
    ScriptedPeer(int listener, std::string_view script);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    void Play();

    // Whether the script closed the connection before the client did.
    bool ClosedFirst() const { return closedFirst_; }
    // Whether the script ended because the client closed.
    bool ClientClosed() const { return clientClosed_; }
    // How long the script's stalls kept the server silent between the two times.
    Clock::duration StalledBetween(Clock::time_point from, Clock::time_point to) const;
    // What the client sent while TLS was off.
    const std::string& ReceivedInClear() const { return receivedInClear_; }
    // The bytes that reached the wire.
    size_t SentBytes() const { return sentBytes_; }

private:
    void Direct(std::string_view directive);
    void Put(const std::string& data);
    void PutRecord(std::string_view directive);
    void Stall(std::string_view milliseconds);
    void Flush();
    void Send(std::string_view bytes);
    void Handshake(std::string_view kind);
    void Renew();
    void TakeRecords();
    void EndTls();
    void AwaitLine();
    void ReadUntilClosed();
    bool ReceiveSome();
    void Stop(bool clientClosed);

    std::string_view script_;
    std::string received_;
    std::string receivedInClear_;
    // Bytes for the wire not sent yet, and how many more may go (-1: all).
    std::string outgoing_;
    int64_t budget_ = -1;
    size_t sentBytes_ = 0;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> stalls_;
    int connection_ = -1;
    SSL* tls_ = nullptr;
    BIO* fromClient_ = nullptr; // owned by tls_
    BIO* toClient_ = nullptr;   // owned by tls_
    bool established_ = false;  // the handshake is done
    bool alive_ = true;
    bool closedFirst_ = false;
    bool clientClosed_ = false;
};

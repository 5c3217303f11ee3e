#pragma once
// The seam between the TLS-capable I/O handler and a TLS library. One TlsSession is one TLS
// connection over a socket that the handler has connected and goes on owning: the session
// reads and writes that socket itself, in non-blocking mode, and whenever it cannot go on it
// asks the handler's waiter, which bounds every wait and raises when the wait runs out.
// CreateTlsSession makes a session of the platform's back-end.
//
//     std::unique_ptr<TlsSession> tls = CreateTlsSession();
//     tls->Handshake(socket, u"mail.example.org", saved.get(), waiter);
//     tls->Write(bytes, count, waiter);
//     const int32_t got = tls->Read(buffer, size, waiter); // -1: wait until readable, call again
//     tls->SendCloseNotify();

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "transport/NativeSocketHandle.h"

enum class TlsWait : uint8_t { Readable, Writable };

// What a session calls when the socket is not ready.
class TlsWaiter {
public:
    // Returns once the socket is ready in that direction. Raises EIdReadTimeout "Read timed
    // out." when the wait runs out (the read time-out, or the session's overall deadline), and
    // EIdSocketError.
    virtual void WaitForSocket(TlsWait direction) = 0;

protected:
    ~TlsWaiter() = default;
};

// A session of an earlier connection, kept to be offered for resumption. Only the back-end that
// made it knows what it holds.
class TlsSavedSession {
public:
    virtual ~TlsSavedSession() = default;
};

// Why the server's certificate was not accepted.
enum class CertificateFault : uint8_t {
    Expired,
    NotYetValid,
    NameMismatch,     // a host name the certificate is not for
    AddressMismatch,  // an IP address the certificate is not for
    UnknownAuthority, // no trusted authority issued it
    SelfSigned,
    Other, // the back-end's own text says why
};

// The failure message of a rejected certificate: "Certificate has expired.", "Host name
// mismatch: <host>", "Certificate rejected: <detail>" and so on.
std::u16string CertificateFaultText(CertificateFault fault, std::u16string_view host,
                                    std::u16string_view detail = {});

class TlsSession {
public:
    virtual ~TlsSession() = default;

    // The client handshake on the connected socket, verified against the system's trust store
    // (which honours SSL_CERT_FILE and SSL_CERT_DIR), TLS 1.2 at least. `host` is the server as
    // the user typed it: a name is sent for name indication and must be one the certificate is
    // for; an IP literal must be one of its addresses. Offers `resume` when given. Raises
    // EIdTLSCertificateRejected with CertificateFaultText, EIdTLSError "TLS handshake failed:
    // <reason>", EIdReadTimeout from the waiter and EIdSocketError.
    virtual void Handshake(TIdStackSocketHandle socket, const std::u16string& host,
                           const TlsSavedSession* resume, TlsWaiter& waiter) = 0;

    // Decrypted bytes into buffer: their count, 0 once the peer has closed (close notification
    // or end of stream), -1 when what has arrived yields no data yet. Never waits for the
    // socket to become readable. Raises EIdTLSError "TLS connection failed: <reason>" and
    // EIdSocketError.
    virtual int32_t Read(uint8_t* buffer, int32_t size, TlsWaiter& waiter) = 0;

    // Sends all `size` bytes, waiting as needed. Raises EIdTLSError, EIdSocketError and
    // EIdReadTimeout from the waiter.
    virtual void Write(const uint8_t* data, int32_t size, TlsWaiter& waiter) = 0;

    // Whether bytes wait inside the session, so that a Read may give data although the socket
    // does not become readable.
    virtual bool HasPending() const = 0;

    // Sends the close notification without waiting for the peer's; failures are ignored.
    virtual void SendCloseNotify() = 0;

    // Whether the handshake resumed the session it was offered.
    virtual bool SessionReused() const = 0;

    // The session to offer at the next connection to the same server, or none when the server
    // allows no resumption. Best taken after the first reply: tickets may follow the handshake.
    virtual std::shared_ptr<TlsSavedSession> SavedSession() const = 0;
};

// A new session of the platform's back-end. Its process-wide state (the trust store) is built
// on the first call. Raises EIdTLSError "TLS is not available: <reason>" when that fails.
std::unique_ptr<TlsSession> CreateTlsSession();

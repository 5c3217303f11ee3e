#pragma once
// The TLS back-end over OpenSSL 3: one SSL object over the handler's socket, reached through a
// socket BIO of our own whose sends cannot raise SIGPIPE. The client context, with the system's
// trust store (LoadSystemTrust), is built once per process, by the first session.

#include "transport/TlsSession.h"

typedef struct ssl_st SSL;
struct ssl_ctx_st;

// Makes the context trust what the system trusts: the file named by SSL_CERT_FILE, else the
// system's hashed certificate folder, whose certificates are read when a server's chain names them
// (the system's bundle file only where there is no such folder); and the folders of SSL_CERT_DIR
// besides, else the system's folder. False only when the context has no store.
bool LoadSystemTrust(ssl_ctx_st* context);

class OpenSslSession : public TlsSession {
public:
    // Raises EIdTLSError "TLS is not available: <reason>" when the context cannot be built.
    OpenSslSession();
    ~OpenSslSession() override;
    OpenSslSession(const OpenSslSession&) = delete;
    OpenSslSession& operator=(const OpenSslSession&) = delete;

    void Handshake(TIdStackSocketHandle socket, const std::u16string& host, const TlsSavedSession* resume,
                   TlsWaiter& waiter) override;
    int32_t Read(uint8_t* buffer, int32_t size, TlsWaiter& waiter) override;
    void Write(const uint8_t* data, int32_t size, TlsWaiter& waiter) override;
    bool HasPending() const override;
    void SendCloseNotify() override;
    bool SessionReused() const override;
    std::shared_ptr<TlsSavedSession> SavedSession() const override;

private:
    void SetUpFor(TIdStackSocketHandle socket, const std::u16string& host, const TlsSavedSession* resume);
    [[noreturn]] void ThrowHandshakeFailure(int error, int savedErrno, const std::u16string& host);
    // Raises for a failed read or write that is neither a wait nor the peer's orderly close.
    [[noreturn]] void ThrowConnectionFailure(int error, int savedErrno);

    SSL* ssl_ = nullptr;
    bool established_ = false;
    // After a fatal error nothing more may be sent, not even the close notification.
    bool broken_ = false;
    // The last read found only part of a record: nothing more can be read before the socket is.
    bool starved_ = false;
};

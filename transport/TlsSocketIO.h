#pragma once
// The TLS-capable I/O handler: the stack handler with a pass-through switch. While passing
// through it is the plain handler; once switched (at the connect for implicit TLS, or after
// the server has accepted STLS) the handshake runs on the same socket and every byte goes
// through the TLS session of the platform's back-end, under the same line reading and writing.
// Every wait of the handshake and of TLS reads and writes is bounded by ReadTimeout and by the
// overall deadline.

#include <memory>

#include "transport/StackSocketIO.h"
#include "transport/TlsSession.h"

class TlsHandler : public TIdIOHandlerStack, private TlsWaiter {
public:
    TlsHandler();
    ~TlsHandler() override;

    // True (the default): plain. Switching it off on an open connection starts TLS at once
    // (StartTLS); before the connect it makes the connect end with the handshake.
    bool PassThrough() const { return passThrough_; }
    void SetPassThrough(bool passThrough);

    // Drops every byte received in the clear but not yet read (none of them may be taken as
    // data that came through TLS), then runs the handshake on the open socket for Host,
    // offering the session set by SetSessionToResume. Raises what TlsSession::Handshake
    // raises; the handler is then still plain and the caller closes it.
    void StartTLS();

    // The session offered at the next handshake (none: a full handshake).
    void SetSessionToResume(std::shared_ptr<TlsSavedSession> session) { resume_ = std::move(session); }
    // The session of the TLS connection now open, for a later connection to the same server;
    // none without TLS or when the server allows no resumption.
    std::shared_ptr<TlsSavedSession> SessionForResumption() const;
    // Whether the last handshake resumed the offered session (kept until the next open).
    bool SessionReused() const { return sessionReused_; }
    // Whether bytes go through TLS now.
    bool TlsActive() const { return tls_ != nullptr; }

    // Resets the TLS state of the previous connection, then opens as the plain handler does.
    void Open() override;
    // With TLS, the close notification (without waiting for the peer's), then the socket.
    void Close() override;

protected:
    // The plain connect, then the handshake unless passing through.
    void ConnectStep() override;
    int32_t ReceiveFromSocket(TIdBytes& buffer) override;
    int32_t SendToSocket(const TIdBytes& bytes, int32_t offset) override;
    bool WaitReadable(int32_t ms) override;

private:
    void WaitForSocket(TlsWait direction) override;

    std::unique_ptr<TlsSession> tls_;
    std::shared_ptr<TlsSavedSession> resume_;
    bool passThrough_ = true;
    bool sessionReused_ = false;
};

#pragma once
// A TCP client whose protocol can run over TLS: implicit TLS (the handshake right after the
// connect, on the protocol's own TLS port) or TLS that the protocol negotiates with a command
// of its own on the regular port. The TLS session of the last signed-in connection is kept and
// offered again at the next connection to the same host and port.

#include <cstdint>
#include <memory>
#include <string>

#include "transport/TcpClient.h"
#include "transport/TlsSocketIO.h"

enum TIdUseTLS : uint8_t {
    utNoTLSSupport = 0,   // plain
    utUseImplicitTLS = 1, // TLS from the connect on
    utUseRequireTLS = 2,  // the protocol's TLS command, or no sign-in
    utUseExplicitTLS = 3, // the protocol's TLS command when the server offers it, else plain
};

class TIdExplicitTLSClient : public TIdTCPClientCustom {
public:
    TIdUseTLS UseTLS() const { return useTLS_; }
    // Switching to utUseImplicitTLS moves Port from the regular default to the implicit-TLS
    // default, and switching away from it moves it back, when Port holds the other default.
    void SetUseTLS(TIdUseTLS useTLS);
    uint16_t RegularPort() const { return regularPort_; }
    uint16_t ImplicitTLSPort() const { return implicitTLSPort_; }

    // Whether the connection now open runs over TLS.
    bool TlsActive() const;
    // Whether the last handshake resumed the session kept from an earlier connection.
    bool TlsSessionReused() const;
    // The next handshake is a full one.
    void ForgetTlsSession() { keptSession_.reset(); }

    // How long the answer to a sign-in command may take, when that is longer than ReadTimeout:
    // servers hold back the refusal of a wrong password on purpose, some as long as a whole
    // ordinary wait. Every other wait keeps ReadTimeout.
    static constexpr int32_t DefaultSignInReplyTimeout = 15000;
    int32_t SignInReplyTimeout() const { return signInReplyTimeout_; }
    void SetSignInReplyTimeout(int32_t ms) { signInReplyTimeout_ = ms; }

protected:
    TIdExplicitTLSClient(uint16_t regularPort, uint16_t implicitTLSPort);

    // The TLS-capable handler when UseTLS asks for TLS, else the plain one.
    std::unique_ptr<TIdIOHandlerStack> CreateIOHandler() const override;
    // Before the connect: a handler that fits UseTLS, passing through unless UseTLS is
    // utUseImplicitTLS, and offering the session kept for this Host and Port. Raises EIdTLSError
    // when TLS is asked for and the handler the connection has been given cannot do it.
    void PrepareTLS();
    // Whether the protocol's TLS command is due after its capability query: always with
    // utUseRequireTLS, with utUseExplicitTLS when SupportsTLS.
    bool TLSCommandDue();
    // The handshake on the open connection, once the server has accepted the TLS command;
    // bytes that came in the clear before it are dropped. Raises what the handshake raises
    // (EIdTLSCertificateRejected, EIdTLSError, EIdReadTimeout, EIdSocketError).
    void StartTLS();
    // Keeps the session of the TLS connection now open for the next connection to the same
    // Host and Port.
    void KeepTlsSession();
    // The protocol's test of whether the server offers TLS.
    virtual bool SupportsTLS() = 0;

    // While it lives, the connection's waits last up to SignInReplyTimeout (never shorter than
    // ReadTimeout): around the sign-in command and the reads of its answer.
    class SignInWait {
    public:
        explicit SignInWait(TIdExplicitTLSClient& client);
        ~SignInWait();
        SignInWait(const SignInWait&) = delete;
        SignInWait& operator=(const SignInWait&) = delete;

    private:
        TIdExplicitTLSClient& client_;
        int32_t kept_;
    };

private:
    TlsHandler* ActiveTlsHandler() const;
    std::u16string ServerKey() const;

    TIdUseTLS useTLS_ = utNoTLSSupport;
    uint16_t regularPort_;
    uint16_t implicitTLSPort_;
    std::shared_ptr<TlsSavedSession> keptSession_;
    std::u16string keptSessionServer_;
    int32_t signInReplyTimeout_ = DefaultSignInReplyTimeout;
};

#pragma once
// The check over implicit TLS written with raw OpenSSL calls on a blocking socket, with nothing
// of the program's own network code: the floor the client is compared against. Like the
// client it verifies the certificate for 127.0.0.1 against the default trust store, asks for
// TLS 1.2 at least, builds its context once and can offer the session of its previous check.

#include <cstdint>
#include <functional>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_session_st SSL_SESSION;
typedef struct ssl_st SSL;

// Lines over one TLS connection; failures raise RawPop3Failure.
class TlsLines {
public:
    explicit TlsLines(SSL* ssl) : ssl_(ssl) {}
    // Sends the line followed by CR LF.
    void SendLine(const std::string& line);
    // Sends the line and returns the next line read.
    std::string Command(const std::string& line);
    std::string ReadLine();
    // Raises unless the reply begins with "+OK".
    void RequireOk(const std::string& reply, const std::string& what);

private:
    SSL* ssl_;
    std::string buffered_;
};

class RawTlsChecker {
public:
    RawTlsChecker();
    ~RawTlsChecker();
    RawTlsChecker(const RawTlsChecker&) = delete;
    RawTlsChecker& operator=(const RawTlsChecker&) = delete;

    // Connect to 127.0.0.1:port, handshake (offering the previous check's session when
    // `resume`), greeting, CAPA, USER, PASS, STAT, QUIT, close notification. Returns the count;
    // raises RawPop3Failure.
    int32_t Check(uint16_t port, const std::string& user, const std::string& password, bool resume);
    // The same connection, handshake and close around another conversation, which returns the
    // count.
    int32_t CheckWith(uint16_t port, bool resume, const std::function<int32_t(TlsLines&)>& conversation);
    // Whether the last check's handshake resumed the offered session.
    bool LastReused() const { return lastReused_; }

private:
    SSL_CTX* context_;
    SSL_SESSION* saved_ = nullptr;
    bool lastReused_ = false;
};

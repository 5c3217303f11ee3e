#include "bench/pop3/RawTlsCheck.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/Pop3RawSession.h"

namespace {

int ConnectedSocket(uint16_t port) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (socket < 0 || connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(socket);
        throw RawPop3Failure("cannot connect to 127.0.0.1:" + std::to_string(port));
    }
    return socket;
}

} // namespace

void TlsLines::SendLine(const std::string& line) {
    const std::string bytes = line + "\r\n";
    if (SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) <= 0)
        throw RawPop3Failure("cannot send " + line);
}

std::string TlsLines::Command(const std::string& line) {
    SendLine(line);
    return ReadLine();
}

std::string TlsLines::ReadLine() {
    return ReadBufferedLine(buffered_, [this](char* chunk, size_t size) {
        return SSL_read(ssl_, chunk, static_cast<int>(size));
    });
}

void TlsLines::RequireOk(const std::string& reply, const std::string& what) {
    if (reply.rfind("+OK", 0) != 0)
        throw RawPop3Failure(what + " answered: " + reply);
}

RawTlsChecker::RawTlsChecker() : context_(SSL_CTX_new(TLS_client_method())) {
    SSL_CTX_set_default_verify_paths(context_);
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_session_cache_mode(context_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
}

RawTlsChecker::~RawTlsChecker() {
    SSL_SESSION_free(saved_);
    SSL_CTX_free(context_);
}

int32_t RawTlsChecker::Check(uint16_t port, const std::string& user, const std::string& password,
                             bool resume) {
    return CheckWith(port, resume, [&](TlsLines& lines) {
        lines.RequireOk(lines.ReadLine(), "greeting");
        if (lines.Command("CAPA").rfind("+OK", 0) == 0)
            while (lines.ReadLine() != ".") {
            }
        lines.RequireOk(lines.Command("USER " + user), "USER");
        lines.RequireOk(lines.Command("PASS " + password), "PASS");
        const std::string stat = lines.Command("STAT");
        lines.RequireOk(stat, "STAT");
        lines.Command("QUIT");
        return static_cast<int32_t>(std::stol(stat.substr(3)));
    });
}

int32_t RawTlsChecker::CheckWith(uint16_t port, bool resume,
                                 const std::function<int32_t(TlsLines&)>& conversation) {
    const int socket = ConnectedSocket(port);
    SSL* ssl = SSL_new(context_);
    SSL_set_fd(ssl, socket);
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), "127.0.0.1");
    if (resume && saved_ != nullptr)
        SSL_set_session(ssl, saved_);
    int32_t count = -1;
    try {
        if (SSL_connect(ssl) != 1)
            throw RawPop3Failure("TLS handshake failed");
        lastReused_ = SSL_session_reused(ssl) == 1;
        TlsLines lines(ssl);
        count = conversation(lines);
        SSL_SESSION_free(saved_);
        saved_ = SSL_get1_session(ssl);
        SSL_shutdown(ssl);
    } catch (...) {
        SSL_free(ssl);
        close(socket);
        throw;
    }
    SSL_free(ssl);
    close(socket);
    return count;
}

#include "transport/OpenSslSession.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include "base/Text.h"
#include "transport/ErrorTexts.h"
#include "transport/Messages.h"
#include "transport/TransportErrors.h"

namespace {

// ---- A socket BIO whose sends cannot raise SIGPIPE ----

int SocketOf(BIO* bio) {
    return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
}

bool WouldBlock(ssize_t result) {
    return result == -1 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

int SocketBioWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    ssize_t sent;
    do
        sent = send(SocketOf(bio), data, static_cast<size_t>(size), MSG_NOSIGNAL);
    while (sent == -1 && errno == EINTR);
    if (WouldBlock(sent))
        BIO_set_retry_write(bio);
    return static_cast<int>(sent);
}

int SocketBioRead(BIO* bio, char* buffer, int size) {
    BIO_clear_retry_flags(bio);
    ssize_t received;
    do
        received = recv(SocketOf(bio), buffer, static_cast<size_t>(size), 0);
    while (received == -1 && errno == EINTR);
    if (WouldBlock(received))
        BIO_set_retry_read(bio);
    return static_cast<int>(received);
}

long SocketBioControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int SocketBioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* SocketBioMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "socket without SIGPIPE");
        BIO_meth_set_write(made, SocketBioWrite);
        BIO_meth_set_read(made, SocketBioRead);
        BIO_meth_set_ctrl(made, SocketBioControl);
        BIO_meth_set_create(made, SocketBioCreate);
        return made;
    }();
    return method;
}

// ---- The trust store ----

// A name as OpenSSL's lookup by subject hash expects it: eight hexadecimal digits, ".", a number.
bool IsHashName(const char* name) {
    int i = 0;
    for (; i < 8; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(name[i])))
            return false;
    if (name[i++] != '.' || !std::isdigit(static_cast<unsigned char>(name[i])))
        return false;
    while (std::isdigit(static_cast<unsigned char>(name[i])))
        ++i;
    return name[i] == '\0';
}

// Whether the folder holds certificates under hash names (update-ca-certificates makes them).
bool IsHashedFolder(const char* folder) {
    struct Close {
        void operator()(DIR* entries) const { closedir(entries); }
    };
    std::unique_ptr<DIR, Close> entries(opendir(folder));
    if (!entries)
        return false;
    while (const dirent* entry = readdir(entries.get()))
        if (IsHashName(entry->d_name))
            return true;
    return false;
}

void AddFolder(X509_STORE* store, const char* folders) {
    X509_LOOKUP* lookup = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
    if (lookup != nullptr)
        X509_LOOKUP_add_dir(lookup, folders, X509_FILETYPE_PEM);
}

void LoadFile(X509_STORE* store, const char* file) {
    X509_LOOKUP* lookup = X509_STORE_add_lookup(store, X509_LOOKUP_file());
    if (lookup != nullptr)
        X509_LOOKUP_load_file(lookup, file, X509_FILETYPE_PEM);
}

} // namespace

bool LoadSystemTrust(ssl_ctx_st* context) {
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    if (store == nullptr)
        return false;
    const char* file = std::getenv(X509_get_default_cert_file_env());
    const char* folders = std::getenv(X509_get_default_cert_dir_env());
    const char* systemFolder = X509_get_default_cert_dir();
    // The system's hashed folder holds the certificates of its bundle: looked up there, only the
    // authorities a server names are read, instead of the whole bundle at the first check.
    const bool bundleInFolder = file == nullptr && IsHashedFolder(systemFolder);
    if (file != nullptr)
        LoadFile(store, file);
    else if (!bundleInFolder)
        LoadFile(store, X509_get_default_cert_file());
    AddFolder(store, folders != nullptr ? folders : systemFolder);
    if (bundleInFolder && folders != nullptr)
        AddFolder(store, systemFolder);
    // As with OpenSSL's own default paths, a file or folder that is missing trusts nothing.
    ERR_clear_error();
    return true;
}

namespace {

// ---- The process-wide context ----

// The reason of OpenSSL's last queued error, and the queue emptied.
std::u16string LastErrorReason() {
    const char* reason = ERR_reason_error_string(ERR_peek_last_error());
    ERR_clear_error();
    return AsciiToText(reason != nullptr ? reason : "unknown error");
}

[[noreturn]] void ThrowUnavailable() {
    throw EIdTLSError(AsciiToText(RSTlsNotAvailable) + LastErrorReason());
}

SSL_CTX* BuildContext() {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr)
        ThrowUnavailable();
    // Setting up the trust store reads a folder or a bundle: once per process, not per check.
    if (!LoadSystemTrust(context) || SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1) {
        SSL_CTX_free(context);
        ThrowUnavailable();
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    // Sessions are kept by the client for the server they belong to, not in a shared cache.
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    // A server that closes without a close notification has closed, as on a plain connection.
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_read_ahead(context, 1);
    return context;
}

SSL_CTX* SharedContext() {
    // A failure raises and leaves the context unbuilt: the next session tries again.
    static SSL_CTX* const context = BuildContext();
    return context;
}

// ---- Verification ----

bool IsAddressLiteral(const std::string& host) {
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

CertificateFault FaultOf(long verifyResult) {
    switch (verifyResult) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return CertificateFault::Expired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return CertificateFault::NotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
        return CertificateFault::NameMismatch;
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return CertificateFault::AddressMismatch;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
        return CertificateFault::UnknownAuthority;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return CertificateFault::SelfSigned;
    default:
        return CertificateFault::Other;
    }
}

class OpenSslSavedSession : public TlsSavedSession {
public:
    explicit OpenSslSavedSession(SSL_SESSION* session) : session_(session) {}
    ~OpenSslSavedSession() override { SSL_SESSION_free(session_); }
    OpenSslSavedSession(const OpenSslSavedSession&) = delete;
    OpenSslSavedSession& operator=(const OpenSslSavedSession&) = delete;
    SSL_SESSION* Session() const { return session_; }

private:
    SSL_SESSION* session_;
};

} // namespace

std::unique_ptr<TlsSession> CreateTlsSession() {
    return std::make_unique<OpenSslSession>();
}

OpenSslSession::OpenSslSession() {
    ssl_ = SSL_new(SharedContext());
    if (ssl_ == nullptr)
        ThrowUnavailable();
}

OpenSslSession::~OpenSslSession() {
    SSL_free(ssl_);
}

void OpenSslSession::SetUpFor(TIdStackSocketHandle socket, const std::u16string& host,
                              const TlsSavedSession* resume) {
    BIO* bio = BIO_new(SocketBioMethod());
    if (bio == nullptr)
        ThrowUnavailable();
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(socket)));
    SSL_set_bio(ssl_, bio, bio);
    const std::string name = TextToUtf8(host);
    if (IsAddressLiteral(name)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), name.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl_, name.c_str());
        // Names only from subjectAltName: a common name that looks like the host is no proof.
        SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
        SSL_set1_host(ssl_, name.c_str());
    }
    if (const auto* saved = dynamic_cast<const OpenSslSavedSession*>(resume))
        SSL_set_session(ssl_, saved->Session());
}

void OpenSslSession::Handshake(TIdStackSocketHandle socket, const std::u16string& host,
                               const TlsSavedSession* resume, TlsWaiter& waiter) {
    SetUpFor(socket, host, resume);
    for (;;) {
        ERR_clear_error();
        const int result = SSL_connect(ssl_);
        if (result == 1) {
            established_ = true;
            return;
        }
        const int error = SSL_get_error(ssl_, result);
        const int savedErrno = errno;
        if (error == SSL_ERROR_WANT_READ)
            waiter.WaitForSocket(TlsWait::Readable);
        else if (error == SSL_ERROR_WANT_WRITE)
            waiter.WaitForSocket(TlsWait::Writable);
        else
            ThrowHandshakeFailure(error, savedErrno, host);
    }
}

void OpenSslSession::ThrowHandshakeFailure(int error, int savedErrno, const std::u16string& host) {
    broken_ = true;
    const long verifyResult = SSL_get_verify_result(ssl_);
    if (verifyResult != X509_V_OK) {
        ERR_clear_error();
        throw EIdTLSCertificateRejected(CertificateFaultText(
            FaultOf(verifyResult), host, AsciiToText(X509_verify_cert_error_string(verifyResult))));
    }
    if (error == SSL_ERROR_SYSCALL && savedErrno != 0 && ERR_peek_error() == 0)
        ThrowSocketError(SocketErrorFromErrno(savedErrno));
    const bool closed =
        error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0);
    const std::u16string reason = closed ? AsciiToText(RSTlsClosedDuringHandshake) : LastErrorReason();
    ERR_clear_error();
    throw EIdTLSError(AsciiToText(RSTlsHandshakeFailed) + reason);
}

int32_t OpenSslSession::Read(uint8_t* buffer, int32_t size, TlsWaiter& waiter) {
    for (;;) {
        ERR_clear_error();
        const int result = SSL_read(ssl_, buffer, size);
        starved_ = false;
        if (result > 0)
            return result;
        const int error = SSL_get_error(ssl_, result);
        const int savedErrno = errno;
        switch (error) {
        case SSL_ERROR_WANT_READ:
            starved_ = true;
            return -1;
        case SSL_ERROR_WANT_WRITE:
            waiter.WaitForSocket(TlsWait::Writable);
            break;
        case SSL_ERROR_ZERO_RETURN:
            return 0;
        default:
            if (error == SSL_ERROR_SYSCALL && savedErrno == 0 && ERR_peek_error() == 0)
                return 0; // the end of the stream
            ThrowConnectionFailure(error, savedErrno);
        }
    }
}

void OpenSslSession::Write(const uint8_t* data, int32_t size, TlsWaiter& waiter) {
    if (size <= 0)
        return;
    for (;;) {
        ERR_clear_error();
        // Without partial writes a success has taken everything.
        const int result = SSL_write(ssl_, data, size);
        if (result > 0)
            return;
        const int error = SSL_get_error(ssl_, result);
        const int savedErrno = errno;
        if (error == SSL_ERROR_WANT_WRITE)
            waiter.WaitForSocket(TlsWait::Writable);
        else if (error == SSL_ERROR_WANT_READ)
            waiter.WaitForSocket(TlsWait::Readable);
        else if (error == SSL_ERROR_ZERO_RETURN)
            throw EIdConnClosedGracefully(RSConnectionClosedGracefully);
        else
            ThrowConnectionFailure(error, savedErrno);
    }
}

void OpenSslSession::ThrowConnectionFailure(int error, int savedErrno) {
    broken_ = true;
    if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
        if (savedErrno != 0)
            ThrowSocketError(SocketErrorFromErrno(savedErrno));
        throw EIdConnClosedGracefully(RSConnectionClosedGracefully);
    }
    throw EIdTLSError(AsciiToText(RSTlsConnectionFailed) + LastErrorReason());
}

// With read-ahead, OpenSSL also counts received bytes it has not decrypted yet. They may hold
// whole records, worth one more read; once a read has asked for more, what is left is a record
// cut short, which only the socket can complete.
bool OpenSslSession::HasPending() const {
    return SSL_pending(ssl_) > 0 || (!starved_ && SSL_has_pending(ssl_) == 1);
}

void OpenSslSession::SendCloseNotify() {
    if (!established_ || broken_)
        return;
    // One call: it queues and sends our notification and does not wait for the peer's.
    SSL_shutdown(ssl_);
    ERR_clear_error();
}

bool OpenSslSession::SessionReused() const {
    return established_ && SSL_session_reused(ssl_) == 1;
}

std::shared_ptr<TlsSavedSession> OpenSslSession::SavedSession() const {
    if (!established_)
        return nullptr;
    SSL_SESSION* session = SSL_get1_session(ssl_);
    if (session == nullptr)
        return nullptr;
    if (SSL_SESSION_is_resumable(session) != 1) {
        SSL_SESSION_free(session);
        return nullptr;
    }
    return std::make_shared<OpenSslSavedSession>(session);
}

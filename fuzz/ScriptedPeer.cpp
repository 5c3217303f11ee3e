#include "fuzz/ScriptedPeer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "fuzz/FuzzChecks.h"
#include "tests/support/TestCertificates.h"

namespace {

using std::chrono::milliseconds;

constexpr int PeerWaitMs = 2000;
constexpr int LongestStallMs = 20;
constexpr int MostRepeats = 20000;
constexpr size_t MostRepeatedBytes = size_t{1} << 20;

bool Readable(int fd, int ms) {
    pollfd wanted{fd, POLLIN, 0};
    return poll(&wanted, 1, ms) == 1;
}

// The decimal number the text starts with, at most `largest`.
int NumberIn(std::string_view text, int largest) {
    int64_t number = 0;
    for (size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        number = std::min<int64_t>(number * 10 + (text[i] - '0'), largest);
    return static_cast<int>(number);
}

// The text after the directive's first blank ("" without one).
std::string_view Operand(std::string_view directive) {
    const size_t blank = directive.find(' ');
    return blank == std::string_view::npos ? std::string_view() : directive.substr(blank + 1);
}

SSL_CTX* ContextFor(const TestCertificate& certificate) {
    SSL_CTX* made = SSL_CTX_new(TLS_server_method());
    if (made == nullptr || SSL_CTX_use_certificate_chain_file(made, certificate.chain.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(made, certificate.key.c_str(), SSL_FILETYPE_PEM) != 1)
        FuzzFinding("the test certificate could not be loaded");
    SSL_CTX_set_num_tickets(made, 1);
    return made;
}

// The context for the handshake directive `kind` ("tls", "tls12", "tlsbad", "tlsexpired", "tlscn").
SSL_CTX* ServerContext(std::string_view kind = "tls") {
    const TestCertificates& certificates = TestCertificates::Get();
    static SSL_CTX* const good = ContextFor(certificates.good);
    static SSL_CTX* const untrusted = ContextFor(certificates.unknownAuthority);
    static SSL_CTX* const expired = ContextFor(certificates.expired);
    static SSL_CTX* const commonNameOnly = ContextFor(certificates.commonNameOnly);
    if (kind == "tlsbad")
        return untrusted;
    if (kind == "tlsexpired")
        return expired;
    return kind == "tlscn" ? commonNameOnly : good;
}

bool IsHandshake(std::string_view directive) {
    return directive == "tls" || directive == "tls12" || directive == "tlsbad" || directive == "tlsexpired" ||
           directive == "tlscn";
}

} // namespace

int OpenLoopbackListener(uint16_t& port, const char* loopbackAddress) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    if (listener < 0 || inet_pton(AF_INET, loopbackAddress, &address.sin_addr) != 1 ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        FuzzFinding("the loopback listener could not be opened");
    port = ntohs(address.sin_port);
    return listener;
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* folder = opendir("/proc/self/fd")) {
        while (readdir(folder) != nullptr)
            ++count;
        closedir(folder);
    }
    return count;
}

void PrepareTestCertificates() {
    ServerContext();
}

ScriptedPeer::ScriptedPeer(int listener, std::string_view script) : script_(script) {
    if (Readable(listener, PeerWaitMs))
        connection_ = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

ScriptedPeer::~ScriptedPeer() {
    EndTls();
    if (connection_ >= 0)
        close(connection_);
}

void ScriptedPeer::Play() {
    if (connection_ < 0)
        return;
    timeval sendLimit{PeerWaitMs / 1000, 0};
    setsockopt(connection_, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    const int noDelay = 1; // each piece goes out at once, as a piece
    setsockopt(connection_, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    for (size_t start = 0; start < script_.size() && alive_;) {
        const size_t end = script_.find('\n', start);
        const bool ended = end != std::string_view::npos;
        const std::string_view line = script_.substr(start, ended ? end - start : std::string_view::npos);
        start = ended ? end + 1 : script_.size();
        if (line.starts_with('#'))
            Direct(line.substr(1));
        else
            Put(ended ? std::string(line) + "\n" : std::string(line));
    }
    if (!alive_)
        return;
    // The script has ended: the server says no more, and the client must close its side.
    budget_ = -1;
    Flush();
    shutdown(connection_, SHUT_WR);
    ReadUntilClosed();
}

ScriptedPeer::Clock::duration ScriptedPeer::StalledBetween(Clock::time_point from,
                                                           Clock::time_point to) const {
    Clock::duration stalled{};
    for (const auto& [began, ended] : stalls_)
        stalled += std::max(Clock::duration{}, std::min(ended, to) - std::max(began, from));
    return stalled;
}

void ScriptedPeer::Direct(std::string_view directive) {
    const char kind = directive.empty() ? '\0' : directive.front();
    const std::string_view rest = directive.substr(directive.empty() ? 0 : 1);
    if (kind == '<') {
        budget_ = -1;
        Flush();
        AwaitLine();
    } else if (kind == '~') {
        Stall(rest);
    } else if (kind == '>') {
        Put(std::string(rest));
    } else if (kind == '*' || kind == '+') {
        std::string piece(Operand(directive));
        if (kind == '*')
            piece += "\r\n";
        const size_t times = std::min<size_t>(NumberIn(rest, MostRepeats),
                                              MostRepeatedBytes / std::max<size_t>(piece.size(), 1));
        std::string repeated;
        repeated.reserve(times * piece.size());
        for (size_t i = 0; i < times; ++i)
            repeated += piece;
        Put(repeated);
    } else if (kind == '!') {
        close(connection_);
        connection_ = -1;
        closedFirst_ = true;
        alive_ = false;
    } else if (IsHandshake(directive)) {
        Handshake(directive);
    } else if (kind == '|') {
        budget_ = NumberIn(rest, INT32_MAX);
        Flush();
    } else if (kind == '.' && tls_ != nullptr) {
        SSL_shutdown(tls_);
        TakeRecords();
        Flush();
    } else if (directive == "renew") {
        Renew();
    } else if (kind == '$') {
        PutRecord(directive);
    } else if (kind == '=') {
        outgoing_ += rest;
        Flush();
    }
}

// Data: through TLS once it is on, else as it stands.
void ScriptedPeer::Put(const std::string& data) {
    if (tls_ == nullptr) {
        outgoing_ += data;
    } else if (!data.empty()) {
        SSL_write(tls_, data.data(), static_cast<int>(data.size())); // fails once the session is over
        TakeRecords();
    }
    Flush();
}

// "$N text": a record header of content type N and the protocol version, then the text.
void ScriptedPeer::PutRecord(std::string_view directive) {
    const std::string_view body = Operand(directive).substr(0, 0xFFFF);
    const char header[] = {static_cast<char>(NumberIn(directive.substr(1), 255)), 3, 3,
                           static_cast<char>(body.size() >> 8), static_cast<char>(body.size() & 0xFF)};
    outgoing_.append(header, sizeof header).append(body);
    Flush();
}

void ScriptedPeer::Stall(std::string_view milliseconds) {
    const Clock::time_point began = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(NumberIn(milliseconds, LongestStallMs)));
    stalls_.emplace_back(began, Clock::now());
}

// Sends what is due of the bytes for the wire, keeping back what the budget does not allow.
void ScriptedPeer::Flush() {
    const size_t due = budget_ < 0 ? outgoing_.size() : std::min<size_t>(outgoing_.size(), budget_);
    Send(std::string_view(outgoing_).substr(0, due));
    outgoing_.erase(0, due);
    if (budget_ >= 0)
        budget_ -= static_cast<int64_t>(due);
}

void ScriptedPeer::Send(std::string_view bytes) {
    for (size_t sent = 0; sent < bytes.size() && alive_;) {
        const ssize_t count = send(connection_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count > 0) {
            sent += static_cast<size_t>(count);
            sentBytes_ += static_cast<size_t>(count);
        } else {
            Stop(count < 0 && (errno == EPIPE || errno == ECONNRESET));
        }
    }
}

// The server's handshake over memory buffers, which the script's pacing then puts on the wire.
// A failed handshake ends TLS; the script goes on in the clear.
void ScriptedPeer::Handshake(std::string_view kind) {
    budget_ = -1;
    Flush();
    EndTls();
    tls_ = SSL_new(ServerContext(kind));
    fromClient_ = BIO_new(BIO_s_mem());
    toClient_ = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(fromClient_, -1); // nothing there yet: try again later
    SSL_set_bio(tls_, fromClient_, toClient_);
    if (kind == "tls12")
        SSL_set_max_proto_version(tls_, TLS1_2_VERSION);
    SSL_set_accept_state(tls_);
    while (alive_) {
        const int result = SSL_do_handshake(tls_);
        TakeRecords();
        Flush();
        if (result == 1) {
            established_ = true;
            return;
        }
        if (SSL_get_error(tls_, result) != SSL_ERROR_WANT_READ || !ReceiveSome())
            break;
    }
    EndTls();
}

void ScriptedPeer::Renew() {
    if (tls_ == nullptr)
        return;
    if (SSL_version(tls_) == TLS1_3_VERSION)
        SSL_key_update(tls_, SSL_KEY_UPDATE_REQUESTED);
    else
        SSL_renegotiate(tls_);
    SSL_do_handshake(tls_);
    TakeRecords();
    Flush();
}

// The records the session has made, queued for the wire.
void ScriptedPeer::TakeRecords() {
    char chunk[4096];
    int count;
    while ((count = BIO_read(toClient_, chunk, sizeof chunk)) > 0)
        outgoing_.append(chunk, static_cast<size_t>(count));
}

void ScriptedPeer::EndTls() {
    SSL_free(tls_); // with its buffers
    tls_ = nullptr;
    established_ = false;
    fromClient_ = toClient_ = nullptr;
}

void ScriptedPeer::AwaitLine() {
    while (received_.find('\n') == std::string::npos)
        if (!ReceiveSome())
            return;
    received_.erase(0, received_.find('\n') + 1);
}

void ScriptedPeer::ReadUntilClosed() {
    while (ReceiveSome())
        received_.clear();
}

// Waits for bytes from the client and keeps them (decrypted once the handshake is done, which
// also answers the client's part of a key update or renegotiation); false once the script must end.
bool ScriptedPeer::ReceiveSome() {
    char chunk[4096];
    if (!Readable(connection_, PeerWaitMs)) {
        Stop(false);
        return false;
    }
    const ssize_t count = recv(connection_, chunk, sizeof chunk, 0);
    if (count <= 0) {
        Stop(true); // an orderly close, or a reset by a close that left data unread
        return false;
    }
    if (tls_ == nullptr) {
        received_.append(chunk, static_cast<size_t>(count));
        receivedInClear_.append(chunk, static_cast<size_t>(count));
        return true;
    }
    BIO_write(fromClient_, chunk, static_cast<int>(count));
    if (established_) {
        int got;
        while ((got = SSL_read(tls_, chunk, sizeof chunk)) > 0)
            received_.append(chunk, static_cast<size_t>(got));
        TakeRecords();
        Flush();
    }
    return true;
}

// The script ends here; `clientClosed` when because the client has closed its side.
void ScriptedPeer::Stop(bool clientClosed) {
    alive_ = false;
    clientClosed_ = clientClosed;
}

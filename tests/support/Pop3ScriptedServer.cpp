#include "tests/support/Pop3ScriptedServer.h"

#include "tests/support/LoopbackSockets.h"
#include "tests/support/TestCertificates.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Every wait is cut into slices this long, so that a stopping server never hangs.
constexpr milliseconds kSlice{50};
constexpr milliseconds kAwaitLineLimit = std::chrono::seconds(30);
constexpr milliseconds kDrainLimit = std::chrono::seconds(60);
constexpr milliseconds kHandshakeLimit = std::chrono::seconds(10);

milliseconds SliceUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    return std::max(milliseconds(0), std::min(left, kSlice));
}

// The server context with the test certificate for 127.0.0.1.
SSL_CTX* ServerContext() {
    static SSL_CTX* const context = [] {
        const TestCertificate& certificate = TestCertificates::Get().good;
        SSL_CTX* made = SSL_CTX_new(TLS_server_method());
        if (SSL_CTX_use_certificate_chain_file(made, certificate.chain.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(made, certificate.key.c_str(), SSL_FILETYPE_PEM) != 1)
            throw std::runtime_error("the scripted server cannot load its certificate");
        return made;
    }();
    return context;
}

} // namespace

Pop3Step ServerSays(std::string line) {
    return {Pop3Step::kSend, line + "\r\n", {}};
}
Pop3Step ServerSendsBytes(std::string bytes) {
    return {Pop3Step::kSend, std::move(bytes), {}};
}
Pop3Step ServerDripFeeds(std::string bytes, milliseconds perByte) {
    return {Pop3Step::kDripFeed, std::move(bytes), perByte};
}
Pop3Step ClientSends(std::string line) {
    return {Pop3Step::kAwaitLine, std::move(line), {}};
}
Pop3Step ServerStaysSilent(milliseconds duration) {
    return {Pop3Step::kStaySilent, {}, duration};
}
Pop3Step CloseConnection() {
    return {Pop3Step::kClose, {}, {}};
}
Pop3Step ServerSendsForever(std::string line) {
    return {Pop3Step::kSendForever, line + "\r\n", {}};
}
Pop3Step ServerStartsTls() {
    return {Pop3Step::kStartTls, {}, {}};
}

std::string ClientBytes(const Pop3Script& script) {
    std::string bytes;
    for (const Pop3Step& step : script) {
        if (step.kind == Pop3Step::kAwaitLine)
            bytes += step.bytes + "\r\n";
    }
    return bytes;
}

ScriptedPop3Server::ScriptedPop3Server(Pop3Script script)
    : ScriptedPop3Server(std::vector<Pop3Script>{std::move(script)}) {}

ScriptedPop3Server::ScriptedPop3Server(std::vector<Pop3Script> scriptPerConnection)
    : scripts_(std::move(scriptPerConnection)), connections_(scripts_.size()) {
    listener_ = OpenLoopbackListener(8, port_);
    thread_ = std::thread([this] { Run(); });
}

ScriptedPop3Server::~ScriptedPop3Server() {
    stopping_ = true;
    thread_.join();
    close(listener_);
}

std::string ScriptedPop3Server::ReceivedBytes(size_t connection, milliseconds limit) const {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [&] { return connections_.at(connection).done; });
    return connections_.at(connection).received;
}

bool ScriptedPop3Server::WaitUntilDone(milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
        for (const Connection& c : connections_) {
            if (!c.done)
                return false;
        }
        return true;
    });
}

size_t ScriptedPop3Server::AcceptedConnections() const {
    std::lock_guard lock(mutex_);
    return accepted_;
}

void ScriptedPop3Server::Run() {
    for (size_t index = 0; index < scripts_.size(); ++index) {
        int client = -1;
        while (client < 0) {
            if (stopping_)
                return;
            pollfd waiting{listener_, POLLIN, 0};
            if (poll(&waiting, 1, static_cast<int>(kSlice.count())) > 0)
                client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        }
        const int on = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        {
            std::lock_guard lock(mutex_);
            ++accepted_;
        }
        Serve(client, index, scripts_[index]);
        SSL_free(tls_);
        tls_ = nullptr;
        close(client);
        MarkDone(index);
    }
}

void ScriptedPop3Server::Serve(int socket, size_t index, const Pop3Script& script) {
    size_t lineStart = 0; // where the next awaited client line begins in `received`
    for (const Pop3Step& step : script) {
        if (!RunStep(socket, index, step, lineStart))
            return;
    }
    DrainUntilClosed(socket, index);
}

// False once the connection is over (the client closed, or the step closed it).
bool ScriptedPop3Server::RunStep(int socket, size_t index, const Pop3Step& step, size_t& lineStart) {
    switch (step.kind) {
    case Pop3Step::kSend:
        return SendAll(socket, step.bytes);
    case Pop3Step::kDripFeed:
        for (char byte : step.bytes) {
            if (!SendAll(socket, std::string_view(&byte, 1)) ||
                !RecordUntil(socket, index, Clock::now() + step.delay))
                return false;
        }
        return true;
    case Pop3Step::kAwaitLine:
        return AwaitLine(socket, index, lineStart);
    case Pop3Step::kStaySilent:
        return RecordUntil(socket, index, Clock::now() + step.delay);
    case Pop3Step::kClose:
        // Take in what already arrived, so that closing sends FIN rather than a reset.
        RecordUntil(socket, index, Clock::now());
        shutdown(socket, SHUT_WR);
        return false;
    case Pop3Step::kSendForever:
        while (SendAll(socket, step.bytes)) {
            if (!RecordUntil(socket, index, Clock::now()))
                return false;
        }
        return false;
    case Pop3Step::kStartTls:
        return StartTls(socket);
    }
    return false;
}

// The socket stays blocking, with a short receive time-out so that no read outlasts a slice.
bool ScriptedPop3Server::StartTls(int socket) {
    signal(SIGPIPE, SIG_IGN); // TLS writes to a client that has gone must fail, not end the test
    const timeval slice{0, static_cast<suseconds_t>(kSlice.count() * 1000)};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);
    tls_ = SSL_new(ServerContext());
    SSL_set_fd(tls_, socket);
    const auto deadline = Clock::now() + kHandshakeLimit;
    while (!stopping_ && Clock::now() < deadline) {
        const int result = SSL_accept(tls_);
        if (result == 1)
            return true;
        const int error = SSL_get_error(tls_, result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            return false;
    }
    return false;
}

ssize_t ScriptedPop3Server::Receive(int socket, char* buffer, size_t size) {
    if (tls_ == nullptr) {
        const ssize_t count = recv(socket, buffer, size, 0);
        return count > 0 ? count : -1;
    }
    const int count = SSL_read(tls_, buffer, static_cast<int>(size));
    if (count > 0)
        return count;
    const int error = SSL_get_error(tls_, count);
    return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? 0 : -1;
}

ScriptedPop3Server::ReadResult ScriptedPop3Server::ReadOnce(int socket, size_t index, milliseconds timeout) {
    if (stopping_)
        return ReadResult::kClosed;
    pollfd waiting{socket, POLLIN, 0};
    const bool decrypted = tls_ != nullptr && SSL_pending(tls_) > 0;
    if (!decrypted && poll(&waiting, 1, static_cast<int>(timeout.count())) <= 0)
        return ReadResult::kIdle;
    char buffer[4096];
    const ssize_t count = Receive(socket, buffer, sizeof buffer);
    if (count < 0)
        return ReadResult::kClosed;
    if (count == 0)
        return ReadResult::kIdle;
    std::lock_guard lock(mutex_);
    connections_[index].received.append(buffer, static_cast<size_t>(count));
    return ReadResult::kData;
}

bool ScriptedPop3Server::RecordUntil(int socket, size_t index, Clock::time_point deadline) {
    do {
        if (ReadOnce(socket, index, SliceUntil(deadline)) == ReadResult::kClosed)
            return false;
    } while (Clock::now() < deadline);
    return true;
}

bool ScriptedPop3Server::AwaitLine(int socket, size_t index, size_t& lineStart) {
    const auto deadline = Clock::now() + kAwaitLineLimit;
    while (Clock::now() < deadline) {
        {
            std::lock_guard lock(mutex_);
            const size_t end = connections_[index].received.find('\n', lineStart);
            if (end != std::string::npos) {
                lineStart = end + 1;
                return true;
            }
        }
        if (ReadOnce(socket, index, kSlice) == ReadResult::kClosed)
            return false;
    }
    return false;
}

bool ScriptedPop3Server::SendAll(int socket, std::string_view bytes) {
    if (tls_ != nullptr)
        return bytes.empty() || SSL_write(tls_, bytes.data(), static_cast<int>(bytes.size())) > 0;
    while (!bytes.empty()) {
        if (stopping_)
            return false;
        pollfd waiting{socket, POLLOUT, 0};
        if (poll(&waiting, 1, static_cast<int>(kSlice.count())) <= 0)
            continue;
        const ssize_t sent = send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (sent < 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

void ScriptedPop3Server::DrainUntilClosed(int socket, size_t index) {
    const auto deadline = Clock::now() + kDrainLimit;
    while (Clock::now() < deadline && RecordUntil(socket, index, Clock::now() + kSlice)) {
    }
}

void ScriptedPop3Server::MarkDone(size_t index) {
    {
        std::lock_guard lock(mutex_);
        connections_[index].done = true;
    }
    changed_.notify_all();
}

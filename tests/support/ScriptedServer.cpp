#include "tests/support/ScriptedServer.h"

#include "tests/support/LoopbackSockets.h"

#ifndef _WIN32
#include "tests/support/TestCertificates.h"

#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>
#endif

#include <algorithm>

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

#ifndef _WIN32
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
#endif

} // namespace

ScriptStep ServerSays(std::string line) {
    return {ScriptStep::kSend, line + "\r\n", {}};
}
ScriptStep ServerSendsBytes(std::string bytes) {
    return {ScriptStep::kSend, std::move(bytes), {}};
}
ScriptStep ServerDripFeeds(std::string bytes, milliseconds perByte) {
    return {ScriptStep::kDripFeed, std::move(bytes), perByte};
}
ScriptStep ClientSends(std::string line) {
    return {ScriptStep::kAwaitLine, std::move(line), {}};
}
ScriptStep ServerStaysSilent(milliseconds duration) {
    return {ScriptStep::kStaySilent, {}, duration};
}
ScriptStep CloseConnection() {
    return {ScriptStep::kClose, {}, {}};
}
ScriptStep ResetConnection() {
    return {ScriptStep::kReset, {}, {}};
}
ScriptStep ServerSendsForever(std::string line) {
    return {ScriptStep::kSendForever, line + "\r\n", {}};
}
ScriptStep ServerTagged(std::string rest) {
    return {ScriptStep::kSendTagged, std::move(rest) + "\r\n", {}};
}
ScriptStep ServerStartsTls() {
    return {ScriptStep::kStartTls, {}, {}};
}
ScriptStep ServerSendsRecordCutShort(std::string line, milliseconds pause) {
    return {ScriptStep::kCutRecord, line + "\r\n", pause};
}

Script JoinScripts(std::initializer_list<Script> parts) {
    Script joined;
    for (const Script& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

std::string ClientBytes(const Script& script) {
    std::string bytes;
    for (const ScriptStep& step : script) {
        if (step.kind == ScriptStep::kAwaitLine)
            bytes += step.bytes + "\r\n";
    }
    return bytes;
}

ScriptedServer::ScriptedServer(Script script) : scripts_{std::move(script)}, everyConnection_(true) {
    listener_ = OpenLoopbackListener(16, port_);
    thread_ = std::thread([this] { Run(); });
}

ScriptedServer::ScriptedServer(std::vector<Script> scriptPerConnection)
    : scripts_(std::move(scriptPerConnection)), everyConnection_(false) {
    listener_ = OpenLoopbackListener(16, port_);
    thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
    stopping_ = true;
    thread_.join();
    CloseTestSocket(listener_);
}

std::string ScriptedServer::ReceivedBytes(size_t connection, milliseconds limit) const {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit,
                      [&] { return connection < connections_.size() && connections_[connection].done; });
    return connection < connections_.size() ? connections_[connection].received : std::string();
}

bool ScriptedServer::WaitUntilDone(milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
        const size_t expected = everyConnection_ ? 1 : scripts_.size();
        if (connections_.size() < expected)
            return false;
        return std::all_of(connections_.begin(), connections_.end(),
                           [](const Connection& c) { return c.done; });
    });
}

size_t ScriptedServer::AcceptedConnections() const {
    std::lock_guard lock(mutex_);
    return connections_.size();
}

void ScriptedServer::Run() {
    for (size_t index = 0; everyConnection_ || index < scripts_.size(); ++index) {
        const TestSocket client = Accept();
        if (client == NoTestSocket)
            return;
        {
            std::lock_guard lock(mutex_);
            connections_.emplace_back();
        }
        Serve(client, index, everyConnection_ ? scripts_.front() : scripts_[index]);
        EndTls();
        CloseTestSocket(client);
        MarkDone(index);
    }
}

TestSocket ScriptedServer::Accept() {
    TestSocket client = NoTestSocket;
    while (client == NoTestSocket) {
        if (stopping_)
            return NoTestSocket;
        if (WaitTestSocket(listener_, false, static_cast<int>(kSlice.count())))
            client = AcceptTestClient(listener_);
    }
    return client;
}

void ScriptedServer::Serve(TestSocket socket, size_t index, const Script& script) {
    size_t lineStart = 0; // where the next awaited client line begins in `received`
    for (const ScriptStep& step : script) {
        if (!RunStep(socket, index, step, lineStart))
            return;
    }
    DrainUntilClosed(socket, index);
}

// False once the connection is over (the client closed, or the step closed it).
bool ScriptedServer::RunStep(TestSocket socket, size_t index, const ScriptStep& step, size_t& lineStart) {
    switch (step.kind) {
    case ScriptStep::kSend:
        return SendAll(socket, step.bytes);
    case ScriptStep::kDripFeed:
        for (char byte : step.bytes) {
            if (!SendAll(socket, std::string_view(&byte, 1)) ||
                !RecordUntil(socket, index, Clock::now() + step.delay))
                return false;
        }
        return true;
    case ScriptStep::kAwaitLine:
        return AwaitLine(socket, index, lineStart);
    case ScriptStep::kStaySilent:
        return RecordUntil(socket, index, Clock::now() + step.delay);
    case ScriptStep::kClose:
        // Take in what already arrived, so that closing sends FIN rather than a reset.
        RecordUntil(socket, index, Clock::now());
        ShutdownSending(socket);
        return false;
    case ScriptStep::kReset:
        ResetOnClose(socket);
        return false;
    case ScriptStep::kSendForever:
        while (SendAll(socket, step.bytes)) {
            if (!RecordUntil(socket, index, Clock::now()))
                return false;
        }
        return false;
    case ScriptStep::kStartTls:
        return StartTls(socket);
    case ScriptStep::kSendTagged:
        return SendAll(socket, LastCommandTag(index, lineStart) + " " + step.bytes);
    case ScriptStep::kCutRecord: {
        const std::string record = SealRecord(step.bytes);
        const size_t half = record.size() / 2;
        return !record.empty() && SendRaw(socket, std::string_view(record).substr(0, half)) &&
               RecordUntil(socket, index, Clock::now() + step.delay) &&
               SendRaw(socket, std::string_view(record).substr(half));
    }
    }
    return false;
}

#ifdef _WIN32
bool ScriptedServer::CanServeTls() {
    return false;
}

// The Windows build has no TLS of its own to serve with: the script ends there.
bool ScriptedServer::StartTls(TestSocket) {
    return false;
}

void ScriptedServer::EndTls() {}

int ScriptedServer::Receive(TestSocket socket, char* buffer, size_t size) {
    const int count = ReceiveSome(socket, buffer, size);
    return count > 0 ? count : -1;
}

bool ScriptedServer::TlsHoldsBytes() const {
    return false;
}

std::string ScriptedServer::SealRecord(std::string_view) {
    return {};
}
#else
bool ScriptedServer::CanServeTls() {
    return true;
}

// The socket stays blocking, with a short receive time-out so that no read outlasts a slice.
bool ScriptedServer::StartTls(TestSocket socket) {
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

void ScriptedServer::EndTls() {
    SSL_free(tls_);
    tls_ = nullptr;
}

int ScriptedServer::Receive(TestSocket socket, char* buffer, size_t size) {
    if (tls_ == nullptr) {
        const int count = ReceiveSome(socket, buffer, size);
        return count > 0 ? count : -1;
    }
    const int count = SSL_read(tls_, buffer, static_cast<int>(size));
    if (count > 0)
        return count;
    const int error = SSL_get_error(tls_, count);
    return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? 0 : -1;
}

bool ScriptedServer::TlsHoldsBytes() const {
    return tls_ != nullptr && SSL_pending(tls_) > 0;
}

// SSL_write into memory for a moment, in place of the socket.
std::string ScriptedServer::SealRecord(std::string_view bytes) {
    if (tls_ == nullptr)
        return {};
    BIO* socketBio = SSL_get_wbio(tls_);
    BIO_up_ref(socketBio);
    BIO* memory = BIO_new(BIO_s_mem());
    SSL_set0_wbio(tls_, memory);
    std::string record;
    if (SSL_write(tls_, bytes.data(), static_cast<int>(bytes.size())) > 0) {
        char* data = nullptr;
        const long size = BIO_get_mem_data(memory, &data);
        record.assign(data, static_cast<size_t>(size));
    }
    SSL_set0_wbio(tls_, socketBio); // frees the memory BIO
    return record;
}
#endif

ScriptedServer::ReadResult ScriptedServer::ReadOnce(TestSocket socket, size_t index, milliseconds timeout) {
    if (stopping_)
        return ReadResult::kClosed;
    if (!TlsHoldsBytes() && !WaitTestSocket(socket, false, static_cast<int>(timeout.count())))
        return ReadResult::kIdle;
    char buffer[4096];
    const int count = Receive(socket, buffer, sizeof buffer);
    if (count < 0)
        return ReadResult::kClosed;
    if (count == 0)
        return ReadResult::kIdle;
    std::lock_guard lock(mutex_);
    connections_[index].received.append(buffer, static_cast<size_t>(count));
    return ReadResult::kData;
}

bool ScriptedServer::RecordUntil(TestSocket socket, size_t index, Clock::time_point deadline) {
    do {
        if (ReadOnce(socket, index, SliceUntil(deadline)) == ReadResult::kClosed)
            return false;
    } while (Clock::now() < deadline);
    return true;
}

bool ScriptedServer::AwaitLine(TestSocket socket, size_t index, size_t& lineStart) {
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

std::string ScriptedServer::LastCommandTag(size_t index, size_t lineEnd) const {
    std::string received;
    {
        std::lock_guard lock(mutex_);
        received = connections_[index].received.substr(0, lineEnd);
    }
    std::string tag;
    bool continuesLiteral = false;
    for (size_t start = 0; start < received.size();) {
        const size_t end = std::min(received.find('\n', start), received.size());
        std::string line = received.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!continuesLiteral && line.find(' ') != std::string::npos)
            tag = line.substr(0, line.find(' '));
        continuesLiteral = !line.empty() && line.back() == '}';
        start = end + 1;
    }
    return tag;
}

bool ScriptedServer::SendAll(TestSocket socket, std::string_view bytes) {
#ifndef _WIN32
    if (tls_ != nullptr)
        return bytes.empty() || SSL_write(tls_, bytes.data(), static_cast<int>(bytes.size())) > 0;
#endif
    return SendRaw(socket, bytes);
}

bool ScriptedServer::SendRaw(TestSocket socket, std::string_view bytes) {
    while (!bytes.empty()) {
        if (stopping_)
            return false;
        if (!WaitTestSocket(socket, true, static_cast<int>(kSlice.count())))
            continue;
        const int sent = SendNow(socket, bytes.data(), bytes.size());
        if (sent < 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

void ScriptedServer::DrainUntilClosed(TestSocket socket, size_t index) {
    const auto deadline = Clock::now() + kDrainLimit;
    while (Clock::now() < deadline && RecordUntil(socket, index, Clock::now() + kSlice)) {
    }
}

void ScriptedServer::MarkDone(size_t index) {
    {
        std::lock_guard lock(mutex_);
        connections_[index].done = true;
    }
    changed_.notify_all();
}

#include "tests/support/ScriptedServer.h"

#include "tests/support/LoopbackSockets.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Every wait is cut into slices this long, so that a stopping server never hangs.
constexpr milliseconds kSlice{50};
constexpr milliseconds kAwaitLineLimit = std::chrono::seconds(30);
constexpr milliseconds kDrainLimit = std::chrono::seconds(60);

milliseconds SliceUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    return std::max(milliseconds(0), std::min(left, kSlice));
}

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
    close(listener_);
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
        const int client = Accept();
        if (client == -1)
            return;
        {
            std::lock_guard lock(mutex_);
            connections_.emplace_back();
        }
        Serve(client, index, everyConnection_ ? scripts_.front() : scripts_[index]);
        close(client);
        MarkDone(index);
    }
}

int ScriptedServer::Accept() {
    int client = -1;
    while (client == -1) {
        if (stopping_)
            return -1;
        pollfd waiting{listener_, POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(kSlice.count())) > 0)
            client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    const int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return client;
}

void ScriptedServer::Serve(int socket, size_t index, const Script& script) {
    size_t lineStart = 0; // where the next awaited client line begins in `received`
    for (const ScriptStep& step : script) {
        if (!RunStep(socket, index, step, lineStart))
            return;
    }
    DrainUntilClosed(socket, index);
}

// False once the connection is over (the client closed, or the step closed it).
bool ScriptedServer::RunStep(int socket, size_t index, const ScriptStep& step, size_t& lineStart) {
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
        shutdown(socket, SHUT_WR);
        return false;
    case ScriptStep::kReset: {
        // Closing with a zero linger time sends RST instead of FIN.
        const linger resetOnClose{1, 0};
        setsockopt(socket, SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof resetOnClose);
        return false;
    }
    case ScriptStep::kSendForever:
        while (SendAll(socket, step.bytes)) {
            if (!RecordUntil(socket, index, Clock::now()))
                return false;
        }
        return false;
    }
    return false;
}

ScriptedServer::ReadResult ScriptedServer::ReadOnce(int socket, size_t index, milliseconds timeout) {
    if (stopping_)
        return ReadResult::kClosed;
    pollfd waiting{socket, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(timeout.count())) <= 0)
        return ReadResult::kIdle;
    char buffer[4096];
    const ssize_t count = recv(socket, buffer, sizeof buffer, 0);
    if (count <= 0)
        return ReadResult::kClosed;
    std::lock_guard lock(mutex_);
    connections_[index].received.append(buffer, static_cast<size_t>(count));
    return ReadResult::kData;
}

bool ScriptedServer::RecordUntil(int socket, size_t index, Clock::time_point deadline) {
    do {
        if (ReadOnce(socket, index, SliceUntil(deadline)) == ReadResult::kClosed)
            return false;
    } while (Clock::now() < deadline);
    return true;
}

bool ScriptedServer::AwaitLine(int socket, size_t index, size_t& lineStart) {
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

bool ScriptedServer::SendAll(int socket, std::string_view bytes) {
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

void ScriptedServer::DrainUntilClosed(int socket, size_t index) {
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

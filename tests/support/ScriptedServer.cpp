#include "tests/support/ScriptedServer.h"

#include "tests/support/LoopbackSockets.h"

#include <algorithm>

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
    }
    return false;
}

ScriptedServer::ReadResult ScriptedServer::ReadOnce(TestSocket socket, size_t index, milliseconds timeout) {
    if (stopping_)
        return ReadResult::kClosed;
    if (!WaitTestSocket(socket, false, static_cast<int>(timeout.count())))
        return ReadResult::kIdle;
    char buffer[4096];
    const int count = ReceiveSome(socket, buffer, sizeof buffer);
    if (count <= 0)
        return ReadResult::kClosed;
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

bool ScriptedServer::SendAll(TestSocket socket, std::string_view bytes) {
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

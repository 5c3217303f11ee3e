#include "transport/LineIO.h"

#include <algorithm>

#include "transport/Messages.h"
#include "transport/TransportErrors.h"

namespace {

constexpr uint8_t CR = 13;

bool IsLineFeed(const TIdBytes& terminator) {
    return terminator.size() == 1 && terminator[0] == 10;
}

} // namespace

TIdIOHandler::TIdIOHandler() = default;

TIdIOHandler::~TIdIOHandler() = default;

void TIdIOHandler::WriteText(std::u16string_view text, WireEncoding encoding) {
    if (text.empty())
        return;
    WriteBytes(TextToBytes(text, encoding == weNone ? lineEncoding_ : encoding));
}

void TIdIOHandler::WriteLine(std::u16string_view text, WireEncoding encoding) {
    std::u16string line(text);
    line += u"\r\n";
    WriteText(line, encoding);
}

void TIdIOHandler::WriteBytes(const TIdBytes& bytes, int32_t count, int32_t offset) {
    const int64_t available = static_cast<int64_t>(bytes.size()) - offset;
    const int64_t amount = count < 0 ? available : std::min<int64_t>(count, available);
    if (amount <= 0 || offset < 0)
        return;
    if (writeCache_) {
        writeCache_->Append(bytes.data() + offset, static_cast<size_t>(amount));
        while (writeCacheThreshold_ > 0 && writeCache_->Size() >= writeCacheThreshold_)
            WriteBufferFlush(writeCacheThreshold_);
        return;
    }
    if (offset == 0 && amount == available)
        SendAll(bytes);
    else
        SendAll(TIdBytes(bytes.begin() + offset, bytes.begin() + offset + amount));
}

void TIdIOHandler::SendAll(const TIdBytes& bytes) {
    CheckPeerClosed(true, true);
    for (size_t sent = 0; sent < bytes.size();) {
        const int32_t count = SendToSocket(bytes, static_cast<int32_t>(sent));
        if (count == 0)
            peerClosed_ = true;
        CheckPeerClosed(true, false);
        sent += count;
    }
}

std::u16string TIdIOHandler::ReadLine(WireEncoding encoding) {
    return ReadLineFull(u"\n", DEFAULT_WAIT, -1, encoding);
}

std::u16string TIdIOHandler::ReadLineFull(std::u16string_view terminator, int32_t timeout, int32_t maxLength,
                                          WireEncoding encoding) {
    if (encoding == weNone)
        encoding = lineEncoding_;
    if (maxLength < 0)
        maxLength = maxLineLength_;
    const TIdBytes terminatorBytes = TextToBytes(terminator.empty() ? u"\n" : terminator, encoding);
    const auto terminatorLength = static_cast<int32_t>(terminatorBytes.size());
    lineSplit_ = false;
    lineTimedOut_ = false;
    const uint32_t started = MillisecondTicks();
    int32_t found = -1;
    // Where a terminator could first still be completed: bytes before it are never searched again.
    int32_t searchStart = 0;
    for (;;) {
        const int32_t queued = inputQueue_.Size();
        if (queued > 0) {
            found = queued > searchStart ? inputQueue_.IndexOf(terminatorBytes, searchStart) : -1;
            searchStart = std::max(queued - (terminatorLength - 1), 0);
        }
        const bool tooLong = found > maxLength || (found == -1 && searchStart > maxLength);
        if (maxLength > 0 && tooLong)
            return TakeTooLongLine(maxLength, encoding);
        if (found >= 0)
            return TakeLine(found, terminatorBytes, encoding);
        CheckPeerClosed(true, true);
        lineTimedOut_ = FillInputBuffer(true, timeout, false) == -1;
        if (!lineTimedOut_ && timeout >= 0)
            lineTimedOut_ = TicksBetween(started, MillisecondTicks()) >= static_cast<uint32_t>(timeout);
        if (lineTimedOut_)
            return {};
    }
}

// The line and its terminator leave the queue together; only the bytes before the terminator
// (less a CR before an LF) are decoded, so a multi-byte character cannot shift the cut.
std::u16string TIdIOHandler::TakeLine(int32_t found, const TIdBytes& terminator, WireEncoding encoding) {
    const TIdBytes taken = inputQueue_.Take(found + static_cast<int32_t>(terminator.size()));
    size_t length = found;
    if (IsLineFeed(terminator) && length > 0 && taken[length - 1] == CR)
        --length;
    return BytesToText(taken.data(), length, encoding);
}

std::u16string TIdIOHandler::TakeTooLongLine(int32_t maxLength, WireEncoding encoding) {
    if (maxLineAction_ == maException)
        throw EIdReadLnMaxLineLengthExceeded(RSMaxLineLengthExceeded);
    lineSplit_ = true;
    return inputQueue_.TakeText(maxLength, encoding);
}

std::u16string TIdIOHandler::ReadNonEmptyLine(int32_t attempts, WireEncoding encoding) {
    for (int32_t attempt = 0; attempt < attempts; ++attempt) {
        std::u16string line = TrimControlAndBlanks(ReadLine(encoding));
        if (!line.empty())
            return line;
        if (lineTimedOut_)
            throw EIdReadTimeout(RSReadTimeout);
    }
    throw EIdReadLnWaitMaxAttemptsExceeded(RSMaxLineAttemptsExceeded);
}

int32_t TIdIOHandler::ReadDotTerminatedBlock(std::vector<std::u16string>& lines,
                                             std::u16string_view delimiter, bool dotTransparency,
                                             WireEncoding encoding) {
    int32_t count = 0;
    for (;;) {
        std::u16string line = ReadLine(encoding);
        if (lineTimedOut_)
            throw EIdReadTimeout(RSReadTimeout);
        if (line == delimiter)
            return count;
        if (maxCapturedLines_ > 0 && count >= maxCapturedLines_)
            throw EIdMaxCaptureLineExceeded(RSMaximumNumberOfCaptureLineExceeded);
        if (dotTransparency && line.starts_with(u".."))
            line.erase(0, 1);
        ++count;
        lines.push_back(std::move(line));
    }
}

int32_t TIdIOHandler::FillInputBuffer(bool raiseIfDisconnected, int32_t timeout, bool raiseOnTimeout) {
    if (timeout == DEFAULT_WAIT)
        timeout = readTimeout_ != DEFAULT_WAIT && readTimeout_ != 0 ? readTimeout_ : INFINITE_WAIT;
    CheckPeerClosed(raiseIfDisconnected, false);
    if (!SocketIsOpen()) {
        if (raiseIfDisconnected)
            throw EIdException(RSNotConnected);
        return 0;
    }
    for (;;) {
        if (!WaitForData(timeout)) {
            if (raiseOnTimeout)
                throw EIdReadTimeout(RSReadTimeout);
            return -1;
        }
        const int32_t received = ReceiveChunk(raiseIfDisconnected);
        if (received < 0)
            continue;
        if (received == 0)
            peerClosed_ = true;
        CheckPeerClosed(raiseIfDisconnected, false);
        if (received != 0 || !SocketIsOpen())
            return received;
    }
}

// The readable wait, cut short by the deadline when one is set and would come first.
bool TIdIOHandler::WaitForData(int32_t timeout) {
    return WaitWithinDeadline(timeout, [this](int32_t ms) { return WaitReadable(ms); });
}

void TIdIOHandler::ThrowReadTimeout() {
    throw EIdReadTimeout(RSReadTimeout);
}

int32_t TIdIOHandler::ReceiveChunk(bool raiseIfDisconnected) {
    if (!handlerOpen_) {
        if (raiseIfDisconnected)
            throw EIdNotConnected(RSNotConnected);
        return 0;
    }
    if (!SocketIsOpen())
        throw EIdClosedSocket(RSDisconnected);
    receiveBuffer_.resize(std::max(recvBufferSize_, 1));
    const int32_t received = ReceiveFromSocket(receiveBuffer_);
    if (received > 0)
        inputQueue_.Append(receiveBuffer_.data(), received);
    return received;
}

bool TIdIOHandler::IsStillConnected() {
    CheckPeerClosed(false, false);
    return handlerOpen_ && (!peerClosed_ || inputQueue_.Size() > 0);
}

void TIdIOHandler::Open() {
    handlerOpen_ = false;
    peerClosed_ = false;
    WriteBufferClear();
    inputQueue_.Clear();
    handlerOpen_ = true;
}

void TIdIOHandler::Close() {
    handlerOpen_ = false;
    WriteBufferClear();
}

void TIdIOHandler::WriteBufferOpen(int32_t threshold) {
    if (writeCache_)
        writeCache_->Clear();
    else
        writeCache_ = std::make_unique<TIdBuffer>();
    writeCacheThreshold_ = threshold;
}

void TIdIOHandler::WriteBufferFlush(int32_t count) {
    if (!writeCache_ || writeCache_->Size() == 0)
        return;
    SendAll(writeCache_->Take(count));
}

void TIdIOHandler::WriteBufferClose() {
    try {
        WriteBufferFlush();
    } catch (...) {
        writeCache_.reset();
        throw;
    }
    writeCache_.reset();
}

void TIdIOHandler::WriteBufferClear() {
    if (writeCache_)
        writeCache_->Clear();
}

void TIdIOHandler::WriteBufferCancel() {
    WriteBufferClear();
    WriteBufferClose();
}

void TIdIOHandler::SetLineEncoding(WireEncoding encoding) {
    if (encoding == weNone)
        throw EIdNoEncodingSpecified(RSNoEncodingSpecified);
    lineEncoding_ = encoding;
}

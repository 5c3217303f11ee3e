#pragma once
// Buffered line input and output over one connection. Received bytes wait in InputQueue; lines
// are cut out of it at LF and decoded, texts are encoded and handed to the socket until all is
// sent. The byte-level socket operations are left to the derived handlers.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/ByteQueue.h"
#include "transport/StackUser.h"
#include "transport/Ticks.h"
#include "transport/WireText.h"

enum TIdMaxLineAction : uint8_t { maException = 0, maSplit = 1 };

class TIdIOHandler : public TIdComponent {
public:
    static constexpr int32_t DefaultMaxLineLength = 16384;
    static constexpr int32_t DefaultBufferSize = 32768;
    static constexpr int32_t MaxReadAttempts = 2147483647;
    using Clock = std::chrono::steady_clock;

    TIdIOHandler();
    ~TIdIOHandler() override;

    // --- Writing (every write raises EIdConnClosedGracefully once the peer or we have closed,
    //     and EIdSocketError when the socket fails) ---

    // Encodes text (weNone: LineEncoding) and sends it; an empty text sends nothing.
    void WriteText(std::u16string_view text, WireEncoding encoding = weNone);
    // The text and CR LF, in one send.
    void WriteLine(std::u16string_view text, WireEncoding encoding = weNone);
    // count bytes from offset (negative count: all from offset), through the write cache if open.
    void WriteBytes(const TIdBytes& bytes, int32_t count = -1, int32_t offset = 0);

    // --- Reading ---

    // ReadLineFull(LF, DEFAULT_WAIT, MaxLineLength, encoding).
    std::u16string ReadLine(WireEncoding encoding = weNone);
    // The next line without its terminator (and, for LF, without a CR before it). Each wait for
    // data is bounded by timeout (DEFAULT_WAIT: ReadTimeout); a non-negative timeout also bounds
    // the whole line. On time-out the result is empty and LineTimedOut() is set. A line longer
    // than maxLength (negative: MaxLineLength) raises EIdReadLnMaxLineLengthExceeded or, with
    // maSplit, comes back cut with LineSplit() set. Raises EIdConnClosedGracefully when the peer
    // has closed before a whole line arrived, EIdReadTimeout once the deadline has passed.
    std::u16string ReadLineFull(std::u16string_view terminator, int32_t timeout = DEFAULT_WAIT,
                                int32_t maxLength = -1, WireEncoding encoding = weNone);
    // The first line that is not blank, trimmed. Raises EIdReadTimeout "Read timed out." when a
    // wait runs out, EIdReadLnWaitMaxAttemptsExceeded after attempts blank lines.
    std::u16string ReadNonEmptyLine(int32_t attempts = MaxReadAttempts, WireEncoding encoding = weNone);
    // Adds the lines up to the delimiter line (not included) to lines; with dot transparency a
    // leading ".." loses one dot. Returns the number added. Raises EIdReadTimeout,
    // EIdMaxCaptureLineExceeded when more than MaxCapturedLines (if above 0) arrive.
    int32_t ReadDotTerminatedBlock(std::vector<std::u16string>& lines, std::u16string_view delimiter = u".",
                                   bool dotTransparency = true, WireEncoding encoding = weNone);
    // One wait for data and one receive into InputQueue: the count added, 0 when the peer has
    // closed or the handler is not open, -1 on time-out (or EIdReadTimeout with raiseOnTimeout).
    // With raiseIfDisconnected a closed connection raises instead of answering 0.
    int32_t FillInputBuffer(bool raiseIfDisconnected = true, int32_t timeout = DEFAULT_WAIT,
                            bool raiseOnTimeout = true);

    // --- Connection state ---

    // Closes the socket once the peer has closed; raises EIdConnClosedGracefully when
    // raiseIfDisconnected and there is nothing queued to read (or ignoreBuffer).
    virtual void CheckPeerClosed(bool raiseIfDisconnected, bool ignoreBuffer) = 0;
    // Open, and either the peer has not closed or bytes are still queued.
    virtual bool IsStillConnected();
    // Resets the flags, the write cache and InputQueue, and marks the handler open.
    virtual void Open();
    // Marks the handler closed and clears the write cache; InputQueue is kept.
    virtual void Close();
    void MarkPeerClosed() { peerClosed_ = true; }

    // --- Write cache: writes collect until flushed (none by default) ---
    void WriteBufferOpen(int32_t threshold = -1);
    // Sends count cached bytes (negative: all). Raises EIdNotEnoughDataInBuffer.
    void WriteBufferFlush(int32_t count = -1);
    void WriteBufferClose();
    void WriteBufferClear();
    void WriteBufferCancel();
    bool WriteBufferOpened() const { return writeCache_ != nullptr; }

    // --- Overall deadline: no wait for data runs past it, and a wait once it has passed raises
    //     EIdReadTimeout "Read timed out.". Polls that do not wait are not affected. ---
    void SetDeadline(Clock::time_point deadline) { deadline_ = deadline; }
    void ClearDeadline() { deadline_.reset(); }
    std::optional<Clock::time_point> Deadline() const { return deadline_; }

    // --- Properties ---
    TIdBuffer& InputQueue() { return inputQueue_; }
    bool HandlerOpen() const { return handlerOpen_; }
    bool PeerClosed() const { return peerClosed_; }
    bool LineTimedOut() const { return lineTimedOut_; }
    bool LineSplit() const { return lineSplit_; }
    int32_t MaxLineLength() const { return maxLineLength_; }
    void SetMaxLineLength(int32_t length) { maxLineLength_ = length; }
    TIdMaxLineAction MaxLineAction() const { return maxLineAction_; }
    void SetMaxLineAction(TIdMaxLineAction action) { maxLineAction_ = action; }
    int32_t MaxCapturedLines() const { return maxCapturedLines_; }
    void SetMaxCapturedLines(int32_t lines) { maxCapturedLines_ = lines; }
    int32_t ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int32_t ms) { readTimeout_ = ms; }
    int32_t ConnectTimeout() const { return connectTimeout_; }
    void SetConnectTimeout(int32_t ms) { connectTimeout_ = ms; }
    int32_t RecvBufferSize() const { return recvBufferSize_; }
    void SetRecvBufferSize(int32_t size) { recvBufferSize_ = size; }
    int32_t SendBufferSize() const { return sendBufferSize_; }
    void SetSendBufferSize(int32_t size) { sendBufferSize_ = size; }
    WireEncoding LineEncoding() const { return lineEncoding_; }
    // Raises EIdNoEncodingSpecified for weNone.
    void SetLineEncoding(WireEncoding encoding);
    const std::u16string& Host() const { return host_; }
    void SetHost(std::u16string host) { host_ = std::move(host); }
    int32_t Port() const { return port_; }
    void SetPort(int32_t port) { port_ = port; }

protected:
    // The socket operations the derived handlers provide. A receive gives the count of bytes
    // received, 0 when the peer has closed, or -1 when what arrived yields no data yet (a
    // secure layer's incomplete record): the wait for data then starts again.
    virtual int32_t ReceiveFromSocket(TIdBytes& buffer) = 0;
    virtual int32_t SendToSocket(const TIdBytes& bytes, int32_t offset) = 0;
    virtual bool SocketIsOpen() const = 0;
    virtual bool WaitReadable(int32_t ms) = 0;
    // One wait of at most timeout ms (negative: no limit), cut short by the deadline: true when
    // `wait` saw the socket ready, false when timeout ran out first. Raises EIdReadTimeout
    // "Read timed out." when the deadline has passed or runs out during the wait.
    template <class Wait> bool WaitWithinDeadline(int32_t timeout, Wait wait);
    // Raises EIdReadTimeout "Read timed out.".
    [[noreturn]] static void ThrowReadTimeout();

private:
    void SendAll(const TIdBytes& bytes);
    bool WaitForData(int32_t timeout);
    int32_t ReceiveChunk(bool raiseIfDisconnected);
    std::u16string TakeLine(int32_t found, const TIdBytes& terminator, WireEncoding encoding);
    std::u16string TakeTooLongLine(int32_t maxLength, WireEncoding encoding);

    TIdBuffer inputQueue_;
    std::unique_ptr<TIdBuffer> writeCache_;
    int32_t writeCacheThreshold_ = 0;
    TIdBytes receiveBuffer_;
    std::optional<Clock::time_point> deadline_;
    bool handlerOpen_ = false;
    bool peerClosed_ = false;
    bool lineTimedOut_ = false;
    bool lineSplit_ = false;
    int32_t maxLineLength_ = DefaultMaxLineLength;
    TIdMaxLineAction maxLineAction_ = maException;
    int32_t maxCapturedLines_ = -1;
    int32_t readTimeout_ = DEFAULT_WAIT;
    int32_t connectTimeout_ = 0;
    int32_t recvBufferSize_ = DefaultBufferSize;
    int32_t sendBufferSize_ = DefaultBufferSize;
    WireEncoding lineEncoding_ = weAscii;
    std::u16string host_;
    int32_t port_ = 0;
};

template <class Wait> bool TIdIOHandler::WaitWithinDeadline(int32_t timeout, Wait wait) {
    if (!deadline_ || timeout == 0)
        return wait(timeout);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline_ - Clock::now()).count();
    if (left <= 0)
        ThrowReadTimeout();
    const bool deadlineFirst = timeout < 0 || left < timeout;
    if (wait(deadlineFirst ? static_cast<int32_t>(std::min<int64_t>(left, INT32_MAX)) : timeout))
        return true;
    if (deadlineFirst)
        ThrowReadTimeout();
    return false;
}

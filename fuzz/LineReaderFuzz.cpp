// The buffered line reader against a model of the whole input. The peer's bytes arrive in
// chunks of any size, with stalls (a wait for data that runs out) between them, and end with the
// peer's close. Whatever the chunking, every read must give what the model cuts from the whole
// byte stream: the same lines, the same line-length failures, the close only once no line is
// left, and the same position in the stream; a stall may only make a read time out and must not
// lose or move a byte. Writes in between, direct or through the write cache and taken by the
// peer a few bytes at a time, must arrive whole and in order, or not at all once it has closed.

#include <fuzzer/FuzzedDataProvider.h>

#include <deque>

#include "fuzz/ChunkedStreamHandler.h"
#include "fuzz/FuzzChecks.h"
#include "transport/TransportErrors.h"

namespace {

// What one line read gives, cut from the whole stream.
struct TModelRead {
    enum TKind { kLine, kTooLong, kClosed } kind;
    std::u16string text;
    size_t next = 0; // the position after the line
};

class TLineModel {
public:
    TLineModel(std::string_view stream, WireEncoding encoding, size_t maxLength, TIdMaxLineAction action)
        : stream_(stream), encoding_(encoding), maxLength_(maxLength), action_(action) {}

    TModelRead Read(size_t pos, std::string_view terminator) const {
        const size_t found = stream_.find(terminator, pos);
        const size_t rest = stream_.size() - pos;
        const bool tooLong =
            maxLength_ > 0 && (found != std::string_view::npos ? found - pos > maxLength_
                                                               : rest + 1 > maxLength_ + terminator.size());
        if (tooLong) {
            if (action_ == maException)
                return {TModelRead::kTooLong, {}, pos};
            return {TModelRead::kLine, Decode(pos, maxLength_), pos + maxLength_};
        }
        if (found == std::string_view::npos)
            return {TModelRead::kClosed, {}, pos};
        size_t length = found - pos;
        if (terminator == "\n" && length > 0 && stream_[found - 1] == '\r')
            --length;
        return {TModelRead::kLine, Decode(pos, length), found + terminator.size()};
    }

private:
    std::u16string Decode(size_t pos, size_t count) const {
        return BytesToText(reinterpret_cast<const uint8_t*>(stream_.data()) + pos, count, encoding_);
    }

    std::string_view stream_;
    WireEncoding encoding_;
    size_t maxLength_;
    TIdMaxLineAction action_;
};

class TLineReaderRun {
public:
    TLineReaderRun(FuzzedDataProvider& input, std::string_view stream, std::deque<size_t> events,
                   WireEncoding encoding, int32_t maxLength, TIdMaxLineAction action)
        : handler_(stream, std::move(events)),
          model_(stream, encoding, static_cast<size_t>(maxLength), action), input_(input) {
        handler_.SetLineEncoding(encoding);
        handler_.SetMaxLineLength(maxLength);
        handler_.SetMaxLineAction(action);
        handler_.SetRecvBufferSize(input.ConsumeIntegralInRange<int32_t>(1, 64));
        handler_.SetMaxCapturedLines(input.ConsumeIntegralInRange<int32_t>(0, 4));
        handler_.SetReadTimeout(5000); // as the program sets it: each stall is such a wait running out
        if (input.ConsumeBool())       // far away: only the waits' own path changes
            handler_.SetDeadline(TIdIOHandler::Clock::now() + std::chrono::hours(1));
        handler_.Open();
    }

    void Step() {
        const size_t before = Position();
        stallsBefore_ = handler_.StallsTaken();
        switch (input_.ConsumeIntegralInRange(0, 6)) {
        case 0:
            ReadOneLine(before, "\n", [this] { return handler_.ReadLine(); });
            break;
        case 1:
            ReadOneLine(before, "\r\n", [this] { return handler_.ReadLineFull(u"\r\n"); });
            break;
        case 2:
            ReadNonEmptyLine(before, input_.ConsumeIntegralInRange(1, 4));
            break;
        case 3:
            ReadBlock(before);
            break;
        case 4:
            FUZZ_CHECK(handler_.IsStillConnected() || handler_.InputQueue().Size() == 0,
                       "queued but not connected");
            FUZZ_CHECK(Position() == before, "a connected test moved the position");
            break;
        case 5:
            Write([this](std::u16string_view text) { handler_.WriteLine(text); }, u"\r\n");
            break;
        case 6:
            WriteThroughCache();
            break;
        }
    }

private:
    // Where the reader stands in the whole stream: what arrived less what still waits.
    size_t Position() { return handler_.Delivered() - static_cast<size_t>(handler_.InputQueue().Size()); }

    std::string At(size_t pos) {
        return "at byte " + std::to_string(pos) + ", now " + std::to_string(Position());
    }

    // The model's expectation for a failure of the reader's own kinds.
    void ExpectFailure(const TModelRead& expected, TModelRead::TKind kind, size_t pos) {
        FUZZ_CHECK(expected.kind == kind, At(pos));
        FUZZ_CHECK(Position() == pos, At(pos));
    }

    template <typename TRead> void ReadOneLine(size_t pos, std::string_view terminator, TRead read) {
        const TModelRead expected = model_.Read(pos, terminator);
        try {
            const std::u16string line = read();
            if (handler_.LineTimedOut()) {
                FUZZ_CHECK(line.empty() && Stalled() && Position() == pos, At(pos));
                return;
            }
            FUZZ_CHECK(expected.kind == TModelRead::kLine, At(pos) + " read " + Quoted(line));
            FUZZ_CHECK(line == expected.text,
                       At(pos) + ": " + Quoted(line) + " instead of " + Quoted(expected.text));
            FUZZ_CHECK(Position() == expected.next, At(pos));
        } catch (const EIdReadLnMaxLineLengthExceeded&) {
            ExpectFailure(expected, TModelRead::kTooLong, pos);
        } catch (const EIdConnClosedGracefully&) {
            ExpectFailure(expected, TModelRead::kClosed, pos);
        }
    }

    // The lines the model cuts from `pos` up to where the reader stands now, which must be the
    // end of one of them.
    std::vector<std::u16string> ModelLinesTo(size_t pos) {
        std::vector<std::u16string> lines;
        while (pos < Position()) {
            const TModelRead read = model_.Read(pos, "\n");
            FUZZ_CHECK(read.kind == TModelRead::kLine && read.next <= Position(),
                       "stopped inside a line " + At(pos));
            lines.push_back(read.text);
            pos = read.next;
        }
        return lines;
    }

    static bool AllBlank(const std::vector<std::u16string>& lines, size_t count) {
        for (size_t i = 0; i < count; ++i)
            if (!TrimControlAndBlanks(lines[i]).empty())
                return false;
        return true;
    }

    TModelRead::TKind ModelKindHere() { return model_.Read(Position(), "\n").kind; }

    void ReadNonEmptyLine(size_t pos, int attempts) {
        const auto count = static_cast<size_t>(attempts);
        try {
            const std::u16string line = handler_.ReadNonEmptyLine(attempts);
            const std::vector<std::u16string> lines = ModelLinesTo(pos);
            FUZZ_CHECK(!lines.empty() && lines.size() <= count && AllBlank(lines, lines.size() - 1), At(pos));
            FUZZ_CHECK(TrimControlAndBlanks(lines.back()) == line, At(pos) + ": " + Quoted(line));
            return;
        } catch (const EIdReadTimeout&) {
            FUZZ_CHECK(Stalled(), At(pos));
        } catch (const EIdReadLnWaitMaxAttemptsExceeded&) {
            FUZZ_CHECK(ModelLinesTo(pos).size() == count, At(pos));
        } catch (const EIdReadLnMaxLineLengthExceeded&) {
            FUZZ_CHECK(ModelKindHere() == TModelRead::kTooLong, At(pos));
        } catch (const EIdConnClosedGracefully&) {
            FUZZ_CHECK(ModelKindHere() == TModelRead::kClosed, At(pos));
        }
        const std::vector<std::u16string> lines = ModelLinesTo(pos);
        FUZZ_CHECK(lines.size() <= count && AllBlank(lines, lines.size()), At(pos));
    }

    static std::vector<std::u16string> Unstuffed(const std::vector<std::u16string>& lines, size_t count) {
        std::vector<std::u16string> out;
        for (size_t i = 0; i < count; ++i)
            out.push_back(lines[i].starts_with(u"..") ? lines[i].substr(1) : lines[i]);
        return out;
    }

    void ReadBlock(size_t pos) {
        std::vector<std::u16string> block;
        // Whether the last line taken ended the read: the delimiter, or one over the capture limit.
        bool delimited = false;
        bool complete = false;
        try {
            const int32_t count = handler_.ReadDotTerminatedBlock(block);
            FUZZ_CHECK(count == static_cast<int32_t>(block.size()), At(pos));
            delimited = complete = true;
        } catch (const EIdReadTimeout&) {
            FUZZ_CHECK(Stalled(), At(pos));
        } catch (const EIdMaxCaptureLineExceeded&) {
            FUZZ_CHECK(handler_.MaxCapturedLines() > 0 && block.size() == size_t(handler_.MaxCapturedLines()),
                       At(pos));
            delimited = true; // one more line taken and dropped
        } catch (const EIdReadLnMaxLineLengthExceeded&) {
            FUZZ_CHECK(ModelKindHere() == TModelRead::kTooLong, At(pos));
        } catch (const EIdConnClosedGracefully&) {
            FUZZ_CHECK(ModelKindHere() == TModelRead::kClosed, At(pos));
        }
        const std::vector<std::u16string> lines = ModelLinesTo(pos);
        FUZZ_CHECK(!delimited || (!lines.empty() && (lines.back() == u".") == complete), At(pos));
        const size_t kept = delimited ? lines.size() - 1 : lines.size();
        for (size_t i = 0; i < kept; ++i)
            FUZZ_CHECK(lines[i] != u".", "a block read past its end " + At(pos));
        FUZZ_CHECK(block == Unstuffed(lines, kept), At(pos));
    }

    // A write sends the text's bytes (and the line end it adds) whole, or nothing once the peer is
    // gone; it is refused only then. The bytes it is to send; nothing when it was refused.
    template <typename TWrite>
    std::optional<std::string> Write(TWrite write, std::u16string_view lineEnd = {}) {
        const std::u16string text = AsciiToText(input_.ConsumeRandomLengthString(12));
        const TIdBytes encoded = TextToBytes(text + std::u16string(lineEnd), handler_.LineEncoding());
        const std::string bytes(encoded.begin(), encoded.end());
        const size_t sentBefore = handler_.Sent().size();
        const bool gone = handler_.Disconnected();
        try {
            write(text);
            // Only bytes that go out now meet the closed connection: not an empty text, nor
            // one that waits in the cache.
            FUZZ_CHECK(!gone || bytes.empty() || handler_.WriteBufferOpened(), "written after the close");
        } catch (const EIdConnClosedGracefully&) {
            FUZZ_CHECK(gone, "refused to write " + Quoted(text));
            handler_.WriteBufferCancel();
            return std::nullopt;
        }
        if (!handler_.WriteBufferOpened())
            FUZZ_CHECK(handler_.Sent().substr(sentBefore).ends_with(bytes),
                       Quoted(text) + " sent as " + Quoted(handler_.Sent().substr(sentBefore)));
        return bytes;
    }

    // Two texts through the write cache, flushed at a threshold or when it closes.
    void WriteThroughCache() {
        const size_t sentBefore = handler_.Sent().size();
        handler_.WriteBufferOpen(input_.ConsumeIntegralInRange(-1, 8));
        const auto first = Write([this](std::u16string_view text) { handler_.WriteText(text); });
        const auto second = Write([this](std::u16string_view text) {
            handler_.WriteText(text);
            handler_.WriteBufferClose();
        });
        if (first && second)
            FUZZ_CHECK(handler_.Sent().substr(sentBefore) == *first + *second, Quoted(*first + *second));
    }

    bool Stalled() const { return handler_.StallsTaken() > stallsBefore_; }

    ChunkedStreamHandler handler_;
    TLineModel model_;
    FuzzedDataProvider& input_;
    int stallsBefore_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    // The settings and the peer's timing come from the end of the input, its bytes from the
    // front: integers are taken from the end.
    constexpr WireEncoding encodings[] = {weAscii, weUtf8, weRaw8};
    const WireEncoding encoding = encodings[input.ConsumeIntegralInRange(0, 2)];
    constexpr int32_t lengths[] = {0, 1, 2, 3, 5, 8, 13, 16384};
    const int32_t maxLength = lengths[input.ConsumeIntegralInRange(0, 7)];
    const TIdMaxLineAction action = input.ConsumeBool() ? maSplit : maException;
    std::deque<size_t> events(input.ConsumeIntegralInRange<size_t>(0, 24));
    for (size_t& event : events)
        event = input.ConsumeIntegralInRange<size_t>(0, 9); // 0: a stall
    const std::vector<uint8_t> steps =
        input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(1, 12));
    const std::string stream = input.ConsumeRemainingBytesAsString();

    FuzzedDataProvider stepInput(steps.data(), steps.size());
    TLineReaderRun run(stepInput, stream, std::move(events), encoding, maxLength, action);
    for (size_t step = 0; step < steps.size() && stepInput.remaining_bytes() > 0; ++step)
        run.Step();
    return 0;
}

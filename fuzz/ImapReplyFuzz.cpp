// IMAP's reply reader against a model of the whole stream. The server's bytes arrive in chunks
// of any size, with stalls between them, and end with its close. Each read must give the
// response the model cuts from the stream: its lines up to one that announces no literal, each
// announced literal's bytes taken whole whatever they hold (line ends, braces, nothing), blank
// lines before a response skipped; the tag, kind and text must rebuild the response's bytes;
// and the reader must stand right after it. A literal beyond the limit, an over-long line, too
// many lines and the close mid-response each raise their own error; a stall may only raise the
// time-out. The tokenizer and the response's parts must take whatever a response holds.

#include <fuzzer/FuzzedDataProvider.h>

#include <exception>
#include <optional>

#include "fuzz/ChunkedStreamHandler.h"
#include "fuzz/FuzzChecks.h"
#include "imap/ImapErrors.h"
#include "imap/ImapReply.h"
#include "transport/TransportErrors.h"

namespace {

constexpr int32_t MostLines = ImapReplyReader::DefaultMaxLinesPerResponse;

struct ModelResponse {
    enum Kind { kResponse, kLiteralTooLarge, kLineTooLong, kTooManyLines, kEnds } kind;
    std::string bytes; // lines without their ends, "\r\n" after each literal's announcement
    size_t next = 0;   // the position after the response
};

// The size "{N}" or "{N+}" at the end of the line announces (saturated), or nothing.
std::optional<uint64_t> AnnouncedLiteral(std::string_view line) {
    if (!line.ends_with('}'))
        return std::nullopt;
    line.remove_suffix(1);
    if (line.ends_with('+'))
        line.remove_suffix(1);
    const size_t open = line.rfind('{');
    if (open == std::string_view::npos || open + 1 == line.size() ||
        line.find_first_not_of("0123456789", open + 1) != std::string_view::npos)
        return std::nullopt;
    uint64_t size = 0;
    for (const char digit : line.substr(open + 1))
        size = size > UINT64_MAX / 10 - 1 ? UINT64_MAX : size * 10 + static_cast<uint64_t>(digit - '0');
    return size;
}

ModelResponse ModelRead(std::string_view stream, size_t pos, uint64_t maxLiteral, size_t maxLine) {
    ModelResponse response{ModelResponse::kResponse, {}, 0};
    uint64_t literalBytes = 0;
    for (int32_t lines = 1;; ++lines) {
        if (lines > MostLines)
            return {ModelResponse::kTooManyLines, {}, pos};
        const size_t end = stream.find('\n', pos);
        const size_t length = (end == std::string_view::npos ? stream.size() : end) - pos;
        if (length > maxLine)
            return {ModelResponse::kLineTooLong, {}, pos};
        if (end == std::string_view::npos)
            return {ModelResponse::kEnds, {}, pos};
        std::string_view line = stream.substr(pos, length);
        pos = end + 1;
        // The line reader takes the CR before the LF, the reply reader one more.
        for (int i = 0; i < 2 && line.ends_with('\r'); ++i)
            line.remove_suffix(1);
        if (response.bytes.empty() && line.find_first_not_of(" \t") == std::string_view::npos)
            continue;
        response.bytes += line;
        const std::optional<uint64_t> literal = AnnouncedLiteral(line);
        if (!literal) {
            response.next = pos;
            return response;
        }
        if (*literal > maxLiteral - literalBytes)
            return {ModelResponse::kLiteralTooLarge, {}, pos};
        literalBytes += *literal;
        if (stream.size() - pos < *literal)
            return {ModelResponse::kEnds, {}, pos};
        response.bytes += "\r\n";
        response.bytes += stream.substr(pos, *literal);
        pos += *literal;
    }
}

// The response's tag and kind put back in front of its text give the bytes it was read from.
void ExpectRebuilds(const ImapResponse& response, const std::string& bytes) {
    const std::string detail =
        "read " + Quoted(bytes) + " as " + Quoted(response.tag) + " " + Quoted(response.text);
    FUZZ_CHECK(bytes.ends_with(response.text), detail);
    const std::string_view prefix = std::string_view(bytes).substr(0, bytes.size() - response.text.size());
    switch (response.kind) {
    case ImapResponse::kContinuation:
        FUZZ_CHECK(response.tag.empty() && (prefix == "+" || prefix == "+ "), detail);
        break;
    case ImapResponse::kUntagged:
        FUZZ_CHECK(response.tag.empty() && (prefix == "* " || (prefix == "*" && response.text.empty())),
                   detail);
        break;
    case ImapResponse::kTagged:
        FUZZ_CHECK(response.tag != "*" && !bytes.starts_with('+') &&
                       response.tag.find(' ') == std::string::npos,
                   detail);
        FUZZ_CHECK(prefix == response.tag + " " || (prefix == response.tag && response.text.empty()), detail);
        break;
    }
}

// What callers take from a response: none of it may fail on any bytes.
void TakeApart(const ImapResponse& response) {
    for (const ImapToken& token : response.Tokens())
        FUZZ_CHECK(token.kind == ImapToken::kAtom || token.kind == ImapToken::kString || token.text.empty(),
                   "a parenthesis with text");
    response.Keyword();
    response.ResponseCode();
    response.HumanText();
}

template <class Error> bool Is(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Error&) {
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    // The settings and the server's timing come from the end of the input, its bytes from the front.
    constexpr int32_t literalLimits[] = {0, 1, 5, 64, 1 << 20};
    const int32_t maxLiteral = literalLimits[input.ConsumeIntegralInRange(0, 4)];
    constexpr int32_t lineLimits[] = {4, 16, 64, 16384};
    const int32_t maxLine = lineLimits[input.ConsumeIntegralInRange(0, 3)];
    std::deque<size_t> events(input.ConsumeIntegralInRange<size_t>(0, 16));
    for (size_t& event : events)
        event = input.ConsumeIntegralInRange<size_t>(0, 9); // 0: a stall
    const std::string stream = input.ConsumeRemainingBytesAsString();

    ChunkedStreamHandler io(stream, std::move(events));
    io.SetMaxLineLength(maxLine);
    io.SetMaxLineAction(maException);
    io.SetReadTimeout(5000);
    io.Open();
    ImapReplyReader reader;
    reader.SetMaxLiteralSize(maxLiteral);
    const auto position = [&io] { return io.Delivered() - static_cast<size_t>(io.InputQueue().Size()); };

    for (;;) {
        const size_t before = position();
        const int stallsBefore = io.StallsTaken();
        const ModelResponse expected = ModelRead(stream, before, static_cast<uint64_t>(maxLiteral), maxLine);
        std::optional<ImapResponse> response;
        std::exception_ptr failure;
        try {
            response = reader.Read(io);
        } catch (const Exception&) {
            failure = std::current_exception();
        }
        const std::string at = "at byte " + std::to_string(before) + ", now " + std::to_string(position());
        // A stall leaves the stream out of step: the client closes the connection.
        if (failure && Is<EIdReadTimeout>(failure)) {
            FUZZ_CHECK(io.StallsTaken() > stallsBefore, "a time-out without a stall " + at);
            return 0;
        }
        switch (expected.kind) {
        case ModelResponse::kResponse:
            FUZZ_CHECK(!failure, "a whole response failed " + at);
            ExpectRebuilds(*response, expected.bytes);
            FUZZ_CHECK(position() == expected.next, at);
            TakeApart(*response);
            break;
        case ModelResponse::kLiteralTooLarge:
            FUZZ_CHECK(Is<ImapLiteralTooLarge>(failure), "a literal beyond the limit was read " + at);
            FUZZ_CHECK(position() == expected.next, "bytes of a refused literal were taken " + at);
            return 0;
        case ModelResponse::kLineTooLong:
            FUZZ_CHECK(Is<EIdReadLnMaxLineLengthExceeded>(failure), "an over-long line was read " + at);
            return 0;
        case ModelResponse::kTooManyLines:
            FUZZ_CHECK(Is<EIdMaxCaptureLineExceeded>(failure), "too many lines were read " + at);
            return 0;
        case ModelResponse::kEnds:
            FUZZ_CHECK(Is<EIdException>(failure), "a response cut short by the close was read " + at);
            return 0;
        }
    }
}

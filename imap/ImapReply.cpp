#include "imap/ImapReply.h"

#include <algorithm>
#include <optional>

#include "base/Integers.h"
#include "base/Text.h"
#include "imap/ImapErrors.h"
#include "transport/LineIO.h"
#include "transport/Messages.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool EndsAtom(char c) {
    return c == ' ' || c == '(' || c == ')' || c == '\r' || c == '\n' || c == '"';
}

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The literal announced at `at` ("{N}", "{N+}" or "~{N}"): its size and where its bytes begin
// (after the CR LF), or nothing when the bytes there announce none.
struct LiteralStart {
    uint64_t size;
    size_t content;
};
std::optional<LiteralStart> LiteralAt(std::string_view bytes, size_t at) {
    if (at < bytes.size() && bytes[at] == '~')
        ++at;
    if (at >= bytes.size() || bytes[at] != '{')
        return std::nullopt;
    size_t i = at + 1;
    uint64_t size = 0;
    // A size beyond 64 bits stays at the largest: it is refused as too large, not misread.
    for (; i < bytes.size() && IsDigit(bytes[i]); ++i)
        size = size > (UINT64_MAX - 9) / 10 ? UINT64_MAX : size * 10 + static_cast<uint64_t>(bytes[i] - '0');
    if (i == at + 1)
        return std::nullopt;
    if (i < bytes.size() && bytes[i] == '+')
        ++i;
    if (i >= bytes.size() || bytes[i] != '}')
        return std::nullopt;
    ++i;
    if (i < bytes.size() && bytes[i] == '\r')
        ++i;
    if (i < bytes.size() && bytes[i] == '\n')
        ++i;
    return LiteralStart{size, i};
}

// The size announced by a literal that ends the line, or nothing.
std::optional<uint64_t> LiteralEndingLine(std::string_view line) {
    if (line.empty() || line.back() != '}')
        return std::nullopt;
    const size_t open = line.rfind('{');
    if (open == std::string_view::npos)
        return std::nullopt;
    const std::optional<LiteralStart> literal = LiteralAt(line, open);
    if (!literal || literal->content != line.size())
        return std::nullopt;
    return literal->size;
}

size_t SkipSpaces(std::string_view bytes, size_t at) {
    while (at < bytes.size() && bytes[at] == ' ')
        ++at;
    return at;
}

// The end of the word beginning at `at`.
size_t WordEnd(std::string_view bytes, size_t at) {
    while (at < bytes.size() && bytes[at] != ' ')
        ++at;
    return at;
}

// Where the text after the status word begins, and, when a response code follows it, the
// code's brackets.
struct StatusParts {
    size_t codeOpen = std::string_view::npos;
    size_t codeClose = std::string_view::npos;
    size_t text = 0;
};
StatusParts SplitStatus(std::string_view text) {
    StatusParts parts;
    size_t at = SkipSpaces(text, WordEnd(text, 0));
    if (at < text.size() && text[at] == '[') {
        const size_t close = text.find(']', at);
        if (close != std::string_view::npos) {
            parts.codeOpen = at;
            parts.codeClose = close;
            at = SkipSpaces(text, close + 1);
        }
    }
    parts.text = at;
    return parts;
}

std::string ReadRawLine(TIdIOHandler& io) {
    const std::u16string line = io.ReadLineFull(u"\n", DEFAULT_WAIT, -1, weRaw8);
    if (io.LineTimedOut())
        throw EIdReadTimeout(RSReadTimeout);
    std::string bytes(line.size(), '\0');
    for (size_t i = 0; i < line.size(); ++i)
        bytes[i] = static_cast<char>(line[i]);
    if (!bytes.empty() && bytes.back() == '\r')
        bytes.pop_back();
    return bytes;
}

std::string ReadExactly(TIdIOHandler& io, int32_t count) {
    while (io.InputQueue().Size() < count)
        io.FillInputBuffer(true, DEFAULT_WAIT, true);
    const TIdBytes bytes = io.InputQueue().Take(count);
    return std::string(bytes.begin(), bytes.end());
}

bool IsBlank(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

ImapResponse SplitTag(const std::string& bytes) {
    ImapResponse response;
    if (!bytes.empty() && bytes[0] == '+') {
        response.kind = ImapResponse::kContinuation;
        response.text = bytes.substr(bytes.size() > 1 && bytes[1] == ' ' ? 2 : 1);
        return response;
    }
    const size_t space = bytes.find(' ');
    const size_t rest = space == std::string::npos ? bytes.size() : space + 1;
    response.tag = bytes.substr(0, space);
    response.kind = response.tag == "*" ? ImapResponse::kUntagged : ImapResponse::kTagged;
    if (response.kind == ImapResponse::kUntagged)
        response.tag.clear();
    response.text = bytes.substr(rest);
    return response;
}

} // namespace

std::vector<ImapToken> TokenizeImap(std::string_view bytes) {
    std::vector<ImapToken> tokens;
    size_t i = 0;
    while (i < bytes.size()) {
        const char c = bytes[i];
        if (c == ' ' || c == '\r' || c == '\n') {
            ++i;
        } else if (c == '(' || c == ')') {
            tokens.push_back({c == '(' ? ImapToken::kOpen : ImapToken::kClose, {}});
            ++i;
        } else if (c == '"') {
            std::string text;
            for (++i; i < bytes.size() && bytes[i] != '"'; ++i) {
                if (bytes[i] == '\\' && i + 1 < bytes.size())
                    ++i;
                text += bytes[i];
            }
            tokens.push_back({ImapToken::kString, std::move(text)});
            ++i;
        } else if (const std::optional<LiteralStart> literal = LiteralAt(bytes, i)) {
            const size_t available = bytes.size() - literal->content;
            const size_t size = literal->size < available ? static_cast<size_t>(literal->size) : available;
            tokens.push_back({ImapToken::kString, std::string(bytes.substr(literal->content, size))});
            i = literal->content + size;
        } else {
            const size_t start = i;
            int depth = 0;
            for (; i < bytes.size() && (depth > 0 || !EndsAtom(bytes[i])); ++i) {
                if (bytes[i] == '[')
                    ++depth;
                else if (bytes[i] == ']' && depth > 0)
                    --depth;
            }
            tokens.push_back({ImapToken::kAtom, std::string(bytes.substr(start, i - start))});
        }
    }
    return tokens;
}

std::string ImapResponse::Keyword() const {
    const std::string_view all(text);
    size_t end = WordEnd(all, 0);
    std::string_view word = all.substr(0, end);
    if (!word.empty() && word.find_first_not_of("0123456789") == std::string_view::npos) {
        const size_t next = SkipSpaces(all, end);
        word = all.substr(next, WordEnd(all, next) - next);
    }
    std::string upper(word);
    for (char& c : upper)
        c = UpperAscii(c);
    return upper;
}

std::string ImapResponse::ResponseCode() const {
    const StatusParts parts = SplitStatus(text);
    if (parts.codeOpen == std::string_view::npos)
        return {};
    return text.substr(parts.codeOpen + 1, parts.codeClose - parts.codeOpen - 1);
}

std::u16string ImapResponse::HumanText() const {
    if (kind == kContinuation)
        return Utf8ToText(text);
    return Utf8ToText(std::string_view(text).substr(SplitStatus(text).text));
}

ImapResponse ImapReplyReader::Read(TIdIOHandler& io) const {
    std::string bytes;
    uint64_t literalBytes = 0;
    for (int32_t lines = 1;; ++lines) {
        if (lines > DefaultMaxLinesPerResponse)
            throw EIdMaxCaptureLineExceeded(RSMaximumNumberOfCaptureLineExceeded);
        const std::string line = ReadRawLine(io);
        if (bytes.empty() && IsBlank(line))
            continue;
        bytes += line;
        const std::optional<uint64_t> literal = LiteralEndingLine(line);
        if (!literal)
            break;
        const auto limit = static_cast<uint64_t>(maxLiteralSize_);
        if (*literal > limit - literalBytes) {
            const std::string announced = line.substr(line.rfind('{'));
            throw ImapLiteralTooLarge(u"The server announced a literal " + AsciiToText(announced) +
                                      u" beyond the limit of " + IntToText(maxLiteralSize_) + u" bytes.");
        }
        literalBytes += *literal;
        bytes += "\r\n";
        bytes += ReadExactly(io, static_cast<int32_t>(*literal));
    }
    return SplitTag(bytes);
}

// Walks the queue as Read would take it: line by line, each literal's bytes after its line. A
// response that Read would refuse at once (a line or literal beyond the limits, too many lines)
// counts as whole, so that the refusal comes now rather than after more bytes.
bool ImapReplyReader::ResponseQueued(TIdIOHandler& io) const {
    const TIdBuffer& queue = io.InputQueue();
    const std::string_view queued(reinterpret_cast<const char*>(queue.UnreadBytes()),
                                  static_cast<size_t>(queue.Size()));
    size_t at = 0;
    uint64_t literalBytes = 0;
    int32_t blankLines = 0; // before the response, skipped as Read skips them
    for (int32_t lines = 1; lines <= DefaultMaxLinesPerResponse; ++lines) {
        const size_t lineFeed = queued.find('\n', at);
        if (lineFeed == std::string_view::npos)
            return queued.size() - at > static_cast<size_t>(std::max(io.MaxLineLength(), 0));
        std::string_view line = queued.substr(at, lineFeed - at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        at = lineFeed + 1;
        if (literalBytes == 0 && lines == blankLines + 1 && IsBlank(line)) {
            ++blankLines;
            continue;
        }
        const std::optional<uint64_t> literal = LiteralEndingLine(line);
        if (!literal)
            return true;
        const auto limit = static_cast<uint64_t>(maxLiteralSize_);
        if (*literal > limit - literalBytes)
            return true;
        literalBytes += *literal;
        if (queued.size() - at < *literal)
            return false;
        at += static_cast<size_t>(*literal);
    }
    return true;
}

bool ImapReplyReader::DropLeadingBlankLines(TIdIOHandler& io) {
    TIdBuffer& queue = io.InputQueue();
    for (;;) {
        const std::string_view queued(reinterpret_cast<const char*>(queue.UnreadBytes()),
                                      static_cast<size_t>(queue.Size()));
        const size_t lineFeed = queued.find('\n');
        std::string_view line = queued.substr(0, lineFeed == std::string_view::npos ? 0 : lineFeed);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (lineFeed == std::string_view::npos || !IsBlank(line))
            return !queued.empty();
        queue.Remove(static_cast<int32_t>(lineFeed + 1));
    }
}

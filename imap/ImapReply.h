#pragma once
// IMAP's replies as they come off the wire: one response is a line, or several lines joined by
// the literals they announce ("{N}" at a line's end, then exactly N bytes). The reader takes
// one whole response at a time, with each literal's size checked before anything of it is
// read; the tokenizer splits a response into atoms, strings and parentheses, so that callers
// can pick out counts, capability lists and fetched header bytes alike.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TIdIOHandler;

struct ImapToken {
    enum Kind : uint8_t { kAtom, kString, kOpen, kClose };
    Kind kind = kAtom;
    // An atom's text ("INBOX", "12", "BODY[HEADER.FIELDS (FROM)]"), or a string's bytes (a quoted
    // string without its quotes and escapes, or a literal's content).
    std::string text;

    bool operator==(const ImapToken& other) const { return kind == other.kind && text == other.text; }
};

// The tokens of a response's bytes. A literal's "{N}" with its CR LF and the N bytes after it
// is one string token; a bracketed part of an atom ("BODY[HEADER.FIELDS (FROM SUBJECT)]") stays
// in the atom, spaces and all.
std::vector<ImapToken> TokenizeImap(std::string_view bytes);

class ImapResponse {
public:
    enum Kind : uint8_t { kUntagged, kTagged, kContinuation };

    Kind kind = kUntagged;
    // The tag of a tagged response; empty otherwise.
    std::string tag;
    // Everything after the tag ("*", "+" or the command's tag) and its space, without the final
    // CR LF; literals stay inline as "{N}" CR LF and their N bytes.
    std::string text;

    std::vector<ImapToken> Tokens() const { return TokenizeImap(text); }
    // The response's keyword in upper case: "OK", "NO", "BAD", "BYE", "PREAUTH", "CAPABILITY",
    // "STATUS"... and, after a leading number ("* 5 EXISTS"), the word after it ("EXISTS").
    std::string Keyword() const;
    // The bracketed response code after a status word ("OK [CAPABILITY IMAP4rev1] ..." gives
    // "CAPABILITY IMAP4rev1"); empty when there is none.
    std::string ResponseCode() const;
    // The human-readable text after the status word and the response code, decoded as UTF-8.
    std::u16string HumanText() const;
};

class ImapReplyReader {
public:
    static constexpr int32_t DefaultMaxLiteralSize = 1 << 20;
    static constexpr int32_t DefaultMaxLinesPerResponse = 1000;

    // The most bytes the literals of one response may hold together.
    int32_t MaxLiteralSize() const { return maxLiteralSize_; }
    void SetMaxLiteralSize(int32_t bytes) { maxLiteralSize_ = bytes; }

    // Reads one whole response, literals included; blank lines before it are skipped. Each wait
    // is bounded by the handler's read time-out and deadline. Raises EIdReadTimeout "Read timed
    // out.", ImapLiteralTooLarge when a literal would take the response beyond MaxLiteralSize
    // (nothing of it is read or allocated), EIdMaxCaptureLineExceeded beyond
    // DefaultMaxLinesPerResponse lines, and the handler's close and line-length errors.
    ImapResponse Read(TIdIOHandler& io) const;
    // Whether the handler's queue holds a whole response, literals included, so that Read
    // returns (or raises) without waiting for the connection.
    bool ResponseQueued(TIdIOHandler& io) const;
    // Drops the blank lines at the front of the handler's queue, which Read would skip; true
    // when bytes of a response remain.
    static bool DropLeadingBlankLines(TIdIOHandler& io);

private:
    int32_t maxLiteralSize_ = DefaultMaxLiteralSize;
};

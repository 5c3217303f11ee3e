#include "mail/HeaderText.h"

#include <optional>

#include "base/Base64.h"
#include "base/Integers.h"
#include "base/Text.h"
#include "mail/CharsetConversion.h"

namespace {

enum class Charset { Utf8, Windows1252, Latin9, Other };

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The charset of an encoded word, without the language an RFC 2231 suffix ("*sv") may add.
// Latin-1 and ASCII labels are read as Windows-1252, its superset, as mail in them often
// holds Windows-1252's quotes and dashes.
Charset CharsetNamed(std::string_view name) {
    const std::string lower = AsciiLowerCase(name.substr(0, name.find('*')));
    if (lower == "utf-8" || lower == "utf8")
        return Charset::Utf8;
    for (std::string_view label : {"iso-8859-1", "iso8859-1", "iso_8859-1", "latin1", "l1", "us-ascii",
                                   "ascii", "windows-1252", "cp1252", "x-cp1252"})
        if (lower == label)
            return Charset::Windows1252;
    for (std::string_view label : {"iso-8859-15", "iso8859-15", "iso_8859-15", "latin-9", "latin9"})
        if (lower == label)
            return Charset::Latin9;
    return Charset::Other;
}

std::u16string Latin9ToText(std::string_view bytes) {
    std::u16string text = Windows1252ToText(bytes);
    for (char16_t& c : text) {
        switch (c) {
        case 0xA4:
            c = 0x20AC;
            break;
        case 0xA6:
            c = 0x0160;
            break;
        case 0xA8:
            c = 0x0161;
            break;
        case 0xB4:
            c = 0x017D;
            break;
        case 0xB8:
            c = 0x017E;
            break;
        case 0xBC:
            c = 0x0152;
            break;
        case 0xBD:
            c = 0x0153;
            break;
        case 0xBE:
            c = 0x0178;
            break;
        default:
            break;
        }
    }
    return text;
}

// Bytes outside encoded words: UTF-8 when they are valid UTF-8, else Windows-1252.
std::u16string UnlabelledToText(std::string_view bytes) {
    if (IsWellFormedUtf8(bytes))
        return Utf8ToText(bytes);
    return Windows1252ToText(bytes);
}

std::optional<std::u16string> CharsetToText(std::string_view charset, std::string_view bytes) {
    switch (CharsetNamed(charset)) {
    case Charset::Utf8:
        return Utf8ToText(bytes);
    case Charset::Windows1252:
        return Windows1252ToText(bytes);
    case Charset::Latin9:
        return Latin9ToText(bytes);
    case Charset::Other:
        break;
    }
    return PlatformCharsetToText(charset, bytes);
}

// Q encoding: "_" is a blank, "=XY" the byte XY; a "=" without two hex digits makes it malformed.
std::optional<std::string> QDecode(std::string_view text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '_') {
            bytes += ' ';
        } else if (text[i] != '=') {
            bytes += text[i];
        } else {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = HexDigitValue(text[i + 1]), low = HexDigitValue(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            bytes += static_cast<char>(high * 16 + low);
            i += 2;
        }
    }
    return bytes;
}

struct EncodedWord {
    size_t length = 0; // of the whole word, "=?" to "?="
    std::string_view charset;
    std::string bytes;
};

// The characters a part of an encoded word may hold: printable ASCII but "?".
size_t WordPartLength(std::string_view text, size_t from) {
    size_t at = from;
    while (at < text.size() && text[at] > ' ' && text[at] < 0x7F && text[at] != '?')
        ++at;
    return at - from;
}

// The encoded word that starts at `at`, when one does and its text decodes. Each attempt reads
// no further than the word's third "?", so scanning a whole value stays linear.
std::optional<EncodedWord> EncodedWordAt(std::string_view text, size_t at) {
    if (text.substr(at, 2) != "=?")
        return std::nullopt;
    const size_t charsetStart = at + 2;
    const size_t charsetLength = WordPartLength(text, charsetStart);
    const size_t mark = charsetStart + charsetLength;
    if (charsetLength == 0 || text.substr(mark, 1) != "?" || mark + 2 >= text.size() || text[mark + 2] != '?')
        return std::nullopt;
    const char encoding = text[mark + 1];
    const size_t wordStart = mark + 3;
    const size_t wordLength = WordPartLength(text, wordStart);
    if (text.substr(wordStart + wordLength, 2) != "?=")
        return std::nullopt;
    const std::string_view word = text.substr(wordStart, wordLength);
    std::optional<std::string> bytes;
    if (encoding == 'B' || encoding == 'b')
        bytes = Base64Decode(word);
    else if (encoding == 'Q' || encoding == 'q')
        bytes = QDecode(word);
    if (!bytes)
        return std::nullopt;
    return EncodedWord{wordStart + wordLength + 2 - at, text.substr(charsetStart, charsetLength),
                       std::move(*bytes)};
}

bool RemovedFromDisplay(char16_t c) {
    const bool control = c < 0x20 || (c >= 0x7F && c < 0xA0);
    const bool bidiOverride = (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
    return control || bidiOverride;
}

bool ShownAsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0x2028 || c == 0x2029;
}

// Blanks of any kind become one blank, other characters that could disturb the display go, the
// ends are trimmed.
std::u16string CleanForDisplay(std::u16string_view text) {
    std::u16string clean;
    clean.reserve(text.size());
    for (char16_t c : text) {
        if (ShownAsBlank(c)) {
            if (!clean.empty() && clean.back() != u' ')
                clean += u' ';
        } else if (!RemovedFromDisplay(c)) {
            clean += c;
        }
    }
    if (!clean.empty() && clean.back() == u' ')
        clean.pop_back();
    return clean;
}

// A run of adjacent encoded words in one charset: their bytes are joined before conversion, so
// a character split across two words survives.
struct WordRun {
    std::string_view charset;
    std::string bytes;
    std::string_view source; // the words as they stand, for when the bytes cannot be converted
};

void FlushRun(WordRun& run, std::u16string& out) {
    if (run.source.empty())
        return;
    if (std::optional<std::u16string> text = CharsetToText(run.charset, run.bytes))
        out += *text;
    else
        out += UnlabelledToText(run.source);
    run = WordRun{};
}

bool SameCharset(std::string_view a, std::string_view b) {
    return AsciiLowerCase(a) == AsciiLowerCase(b);
}

} // namespace

std::string HeaderFieldValue(std::string_view header, std::string_view name) {
    std::string value;
    bool inField = false;
    size_t start = 0;
    while (start < header.size()) {
        size_t end = header.find('\n', start);
        if (end == std::string_view::npos)
            end = header.size();
        std::string_view line = header.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            break;
        const bool continuation = line[0] == ' ' || line[0] == '\t';
        if (continuation) {
            if (inField)
                value += line;
            continue;
        }
        if (inField)
            break;
        const size_t colon = line.find(':');
        std::string_view fieldName = line.substr(0, colon == std::string_view::npos ? 0 : colon);
        while (!fieldName.empty() && IsBlank(fieldName.back()))
            fieldName.remove_suffix(1);
        if (colon != std::string_view::npos && !fieldName.empty() &&
            AsciiLowerCase(fieldName) == AsciiLowerCase(name)) {
            inField = true;
            value = line.substr(colon + 1);
        }
    }
    const size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return value.substr(first, value.find_last_not_of(" \t") + 1 - first);
}

std::u16string DecodeHeaderText(std::string_view value) {
    std::u16string out;
    WordRun run;
    size_t literalStart = 0; // where the text after the last encoded word begins
    for (size_t at = 0; at < value.size();) {
        std::optional<EncodedWord> word = EncodedWordAt(value, at);
        if (!word) {
            ++at;
            continue;
        }
        const std::string_view between = value.substr(literalStart, at - literalStart);
        // Blanks between two encoded words are folding, not text.
        const bool joinsRun =
            !run.source.empty() && between.find_first_not_of(" \t\r\n") == std::string_view::npos;
        if (!joinsRun || !SameCharset(run.charset, word->charset)) {
            FlushRun(run, out);
            if (!joinsRun)
                out += UnlabelledToText(between);
            run.charset = word->charset;
            run.source = value.substr(at, 0);
        }
        run.bytes += word->bytes;
        at += word->length;
        run.source = std::string_view(run.source.data(), value.data() + at - run.source.data());
        literalStart = at;
    }
    FlushRun(run, out);
    out += UnlabelledToText(value.substr(literalStart));
    return CleanForDisplay(out);
}

namespace {

// The first mailbox of an address list: its display name, its address and its first comment.
struct Mailbox {
    std::string name;
    std::string address;
    std::string comment;
};

Mailbox FirstMailbox(std::string_view value) {
    std::string words; // plain text and quoted strings, outside comments and angle brackets
    std::string angled, comment;
    bool quoted = false, inAngle = false, sawAngle = false, sawComment = false;
    int commentDepth = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        const bool escaped = (quoted || commentDepth > 0) && c == '\\' && i + 1 < value.size();
        if (escaped)
            c = value[++i];
        if (quoted) {
            if (c == '"' && !escaped)
                quoted = false;
            else
                words += c;
        } else if (commentDepth > 0) {
            if (!escaped)
                commentDepth += c == '(' ? 1 : c == ')' ? -1 : 0;
            if (commentDepth > 0 && !sawComment)
                comment += c;
            sawComment = sawComment || commentDepth == 0;
        } else if (inAngle) {
            if (c == '>')
                inAngle = false;
            else
                angled += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '(') {
            commentDepth = 1;
        } else if (c == '<' && !sawAngle) {
            inAngle = sawAngle = true;
        } else if (c == ':' && !sawAngle) {
            words.clear(); // a group's name ("Team: a@example.org, ...;") names no sender
        } else if (c == ',' || c == ';') {
            if (sawAngle || words.find_first_not_of(" \t\r\n") != std::string::npos)
                break;
        } else {
            words += c;
        }
    }
    if (sawAngle)
        return {words, angled, comment};
    return {{}, words, comment};
}

} // namespace

std::u16string SenderOfFrom(std::string_view value) {
    const Mailbox mailbox = FirstMailbox(value);
    for (const std::string& candidate : {mailbox.name, mailbox.comment, mailbox.address})
        if (std::u16string text = DecodeHeaderText(candidate); !text.empty())
            return text;
    return DecodeHeaderText(value);
}

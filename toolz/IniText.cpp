#include "toolz/IniText.h"

#include <algorithm>

#include "base/Exceptions.h"
#include "base/Text.h"

namespace {

constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view Utf16LEByteOrderMark = "\xFF\xFE";
constexpr std::string_view Utf16BEByteOrderMark = "\xFE\xFF";

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// The name of a section header line "[name]", or nothing for any other line.
std::optional<std::string_view> SectionNameOf(std::string_view line) {
    const std::string_view trimmed = TrimBlanks(line);
    const size_t close = trimmed.find(']');
    if (trimmed.empty() || trimmed.front() != '[' || close == std::string_view::npos)
        return std::nullopt;
    return TrimBlanks(trimmed.substr(1, close - 1));
}

bool IsComment(std::string_view trimmedLine) {
    return !trimmedLine.empty() && (trimmedLine.front() == ';' || trimmedLine.front() == '#');
}

// The key of a line "key=value", or nothing for comments, headers and other lines.
std::optional<std::string_view> KeyNameOf(std::string_view line) {
    const std::string_view trimmed = TrimBlanks(line);
    const size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos || IsComment(trimmed) || SectionNameOf(line))
        return std::nullopt;
    return TrimBlanks(trimmed.substr(0, equals));
}

std::string_view ValueOf(std::string_view keyLine) {
    return TrimBlanks(keyLine.substr(keyLine.find('=') + 1));
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// ---- UTF-16 files ---------------------------------------------------------------------------

bool HasUnpairedSurrogate(std::u16string_view text) {
    const auto isHigh = [](char16_t c) { return c >= 0xD800 && c <= 0xDBFF; };
    const auto isLow = [](char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; };
    for (size_t i = 0; i < text.size(); ++i) {
        if (isHigh(text[i]) && i + 1 < text.size() && isLow(text[i + 1]))
            ++i;
        else if (isHigh(text[i]) || isLow(text[i]))
            return true;
    }
    return false;
}

// UTF-16 bytes after their byte order mark as UTF-8. Only text that comes back byte for byte
// when written is taken: a store must not change the lines it leaves alone.
std::string Utf16BytesToUtf8(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0)
        throw EConvertError(std::string_view("UTF-16 settings file with an odd number of bytes"));
    std::u16string text(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        text[i] = static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
    }
    if (HasUnpairedSurrogate(text))
        throw EConvertError(std::string_view("UTF-16 settings file with half of a surrogate pair"));
    return TextToUtf8(text);
}

std::string Utf8ToUtf16Bytes(std::string_view utf8, bool bigEndian) {
    std::string bytes;
    for (const char16_t unit : Utf8ToText(utf8)) {
        const auto high = static_cast<char>(unit >> 8);
        const auto low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

} // namespace

// ---- Reading and writing --------------------------------------------------------------------

TIniText::TIniText(std::string_view bytes) {
    const std::string text = Decode(bytes);
    std::string_view rest = text;
    while (!rest.empty()) {
        const size_t end = rest.find_first_of("\r\n");
        if (end == std::string_view::npos) {
            lines_.push_back({std::string(rest), ""});
            break;
        }
        const size_t endingLength = rest.substr(end, 2) == "\r\n" ? 2 : 1;
        lines_.push_back({std::string(rest.substr(0, end)), std::string(rest.substr(end, endingLength))});
        rest.remove_prefix(end + endingLength);
    }
}

// The file's text as UTF-8 without its byte order mark; the encoding and the mark are kept for
// writing it back.
std::string TIniText::Decode(std::string_view bytes) {
    for (const auto& [mark, encoding] :
         {std::pair{Utf8ByteOrderMark, TEncoding::Utf8}, std::pair{Utf16LEByteOrderMark, TEncoding::Utf16LE},
          std::pair{Utf16BEByteOrderMark, TEncoding::Utf16BE}}) {
        if (bytes.starts_with(mark)) {
            byteOrderMark_ = mark;
            encoding_ = encoding;
            bytes.remove_prefix(mark.size());
            break;
        }
    }
    if (encoding_ == TEncoding::Utf8 && byteOrderMark_.empty() && !IsWellFormedUtf8(bytes)) {
        encoding_ = TEncoding::Windows1252;
        return TextToUtf8(Windows1252ToText(bytes));
    }
    if (encoding_ == TEncoding::Utf8)
        return std::string(bytes);
    return Utf16BytesToUtf8(bytes, encoding_ == TEncoding::Utf16BE);
}

std::optional<std::string_view> TIniText::Value(std::string_view section, std::string_view key) const {
    const auto header = FindSection(section);
    if (!header)
        return std::nullopt;
    const auto line = FindKey(*header, key);
    if (!line)
        return std::nullopt;
    return ValueOf(lines_[*line].text);
}

void TIniText::SetValue(std::string_view section, std::string_view key, std::string_view value) {
    auto header = FindSection(section);
    if (!header)
        header = AppendSection(section);
    if (const auto line = FindKey(*header, key)) {
        const std::string_view keyName = *KeyNameOf(lines_[*line].text);
        lines_[*line].text = std::string(keyName) + "=" + std::string(value);
    } else {
        InsertLine(LastContentLine(*header) + 1, std::string(key) + "=" + std::string(value));
    }
}

std::vector<std::string> TIniText::SectionNames() const {
    std::vector<std::string> names;
    for (const auto& line : lines_)
        if (const auto name = SectionNameOf(line.text))
            names.emplace_back(*name);
    return names;
}

void TIniText::RemoveSection(std::string_view section) {
    while (const auto header = FindSection(section)) {
        size_t first = *header;
        const size_t end = SectionEnd(first);
        if (end == lines_.size())
            while (first > 0 && TrimBlanks(lines_[first - 1].text).empty())
                --first;
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(first),
                     lines_.begin() + static_cast<std::ptrdiff_t>(end));
    }
}

std::string TIniText::Bytes() const {
    std::string text;
    for (const auto& line : lines_)
        text += line.text + line.ending;
    if (encoding_ == TEncoding::Windows1252) {
        // Kept unless a value has no place in it, or its bytes would now read as UTF-8.
        const std::optional<std::string> bytes = TextToWindows1252(Utf8ToText(text));
        if (bytes && (!IsWellFormedUtf8(*bytes) || *bytes == text))
            return *bytes;
        return std::string(Utf8ByteOrderMark) + text;
    }
    if (encoding_ == TEncoding::Utf8)
        return byteOrderMark_ + text;
    return byteOrderMark_ + Utf8ToUtf16Bytes(text, encoding_ == TEncoding::Utf16BE);
}

// ---- Finding sections and keys --------------------------------------------------------------

std::optional<size_t> TIniText::FindSection(std::string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i)
        if (const auto name = SectionNameOf(lines_[i].text); name && SameNameIgnoringCase(*name, section))
            return i;
    return std::nullopt;
}

size_t TIniText::SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < lines_.size() && !SectionNameOf(lines_[i].text))
        ++i;
    return i;
}

std::optional<size_t> TIniText::FindKey(size_t header, std::string_view key) const {
    const size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i)
        if (const auto name = KeyNameOf(lines_[i].text); name && SameNameIgnoringCase(*name, key))
            return i;
    return std::nullopt;
}

// The section's last line that is not blank: new keys go after it, before any blank lines
// that separate the section from the next.
size_t TIniText::LastContentLine(size_t header) const {
    size_t last = header;
    const size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i)
        if (!TrimBlanks(lines_[i].text).empty())
            last = i;
    return last;
}

// ---- Adding lines ---------------------------------------------------------------------------

size_t TIniText::AppendSection(std::string_view section) {
    if (!lines_.empty() && !TrimBlanks(lines_.back().text).empty())
        InsertLine(lines_.size(), "");
    InsertLine(lines_.size(), "[" + std::string(section) + "]");
    return lines_.size() - 1;
}

// New lines take the ending the file already uses.
std::string TIniText::LineEnding() const {
    return lines_.empty() || lines_.front().ending.empty() ? "\n" : lines_.front().ending;
}

void TIniText::InsertLine(size_t at, std::string text) {
    const std::string ending = LineEnding();
    if (at > 0 && lines_[at - 1].ending.empty())
        lines_[at - 1].ending = ending;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), TLine{std::move(text), ending});
}

// ---- Names ----------------------------------------------------------------------------------

std::string_view TrimBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void RaiseIfNotStorable(std::string_view section, std::string_view key) {
    if (TrimBlanks(section).empty() || HasLineBreak(section) || section.find(']') != std::string_view::npos)
        throw Exception(u"Invalid section name: " + Utf8ToText(section));
    const std::string_view trimmedKey = TrimBlanks(key);
    if (trimmedKey.empty() || HasLineBreak(key) || key.find('=') != std::string_view::npos ||
        IsComment(trimmedKey) || trimmedKey.front() == '[')
        throw Exception(u"Invalid key name: " + Utf8ToText(key));
}

#include "toolz/IniText.h"

#include <algorithm>

#include "base/Exceptions.h"
#include "base/Text.h"

namespace {

constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";

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

} // namespace

// ---- Reading and writing --------------------------------------------------------------------

TIniText::TIniText(std::string_view bytes) {
    if (bytes.starts_with(Utf8ByteOrderMark)) {
        byteOrderMark_ = Utf8ByteOrderMark;
        bytes.remove_prefix(Utf8ByteOrderMark.size());
    }
    while (!bytes.empty()) {
        const size_t newline = bytes.find('\n');
        std::string_view text = bytes.substr(0, newline);
        std::string ending = newline == std::string_view::npos ? "" : "\n";
        if (!ending.empty() && text.ends_with('\r')) {
            text.remove_suffix(1);
            ending = "\r\n";
        }
        lines_.push_back({std::string(text), ending});
        bytes.remove_prefix(newline == std::string_view::npos ? bytes.size() : newline + 1);
    }
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

std::string TIniText::Bytes() const {
    std::string out = byteOrderMark_;
    for (const auto& line : lines_)
        out += line.text + line.ending;
    return out;
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

#pragma once
// The text of an INI file as its lines: look up and set "key=value" lines by section, section
// and key names matched ignoring ASCII letter case. Every line is kept byte for byte with its own
// line ending (and a leading UTF-8 byte order mark with it), so an update changes only the line
// it concerns.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TIniText {
public:
    // Splits the file's bytes into lines.
    explicit TIniText(std::string_view bytes);

    // The value of `key` in `section`, blanks around it removed; nothing when the section or the
    // key is missing. The names must already be trimmed.
    std::optional<std::string_view> Value(std::string_view section, std::string_view key) const;

    // Replaces the line of `key` in `section` by "key=value", keeping the key as written in the
    // file; a missing key goes after the section's last non-blank line, a missing section at the
    // end of the file. The names must be storable (RaiseIfNotStorable) and trimmed, the value
    // one line.
    void SetValue(std::string_view section, std::string_view key, std::string_view value);

    // The file's bytes, every line with its own ending.
    std::string Bytes() const;

private:
    struct TLine {
        std::string text;
        std::string ending; // "\n", "\r\n", or "" on a last line without one
    };

    std::optional<size_t> FindSection(std::string_view section) const;
    size_t SectionEnd(size_t header) const;
    std::optional<size_t> FindKey(size_t header, std::string_view key) const;
    size_t LastContentLine(size_t header) const;
    size_t AppendSection(std::string_view section);
    std::string LineEnding() const;
    void InsertLine(size_t at, std::string text);

    std::string byteOrderMark_;
    std::vector<TLine> lines_;
};

// The text without the blanks and tabs at either end.
std::string_view TrimBlanks(std::string_view text);

// Raises Exception ("Invalid section name: ..." or "Invalid key name: ...") for a name that
// would not read back as the same section or key: empty once trimmed, with a line break, a
// section name with "]", a key name with "=" or starting like a comment or a section header.
void RaiseIfNotStorable(std::string_view section, std::string_view key);

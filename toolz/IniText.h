#pragma once
// The text of an INI file as its lines: look up and set "key=value" lines by section, section
// and key names matched ignoring ASCII letter case. Every line is kept byte for byte with its own
// line ending (LF, CR LF or a lone CR), and the file keeps its encoding (UTF-8 with or without a
// byte order mark, UTF-16 LE or BE with one), so an update changes only the line it concerns. A
// file without a byte order mark that is no valid UTF-8 was written in a Windows ANSI code page:
// it is read as Windows-1252 and stays in it, unless a value it cannot hold (or bytes that would
// then read as UTF-8) turn it into UTF-8 with a byte order mark.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TIniText {
public:
    // Splits the file's bytes into lines. Raises EConvertError for UTF-16 text that could not be
    // written back as it stands: an odd number of bytes, or half of a surrogate pair.
    explicit TIniText(std::string_view bytes);

    // Names and values are UTF-8, whatever the file's encoding.

    // The value of `key` in `section`, blanks around it removed; nothing when the section or the
    // key is missing. The names must already be trimmed.
    std::optional<std::string_view> Value(std::string_view section, std::string_view key) const;

    // Replaces the line of `key` in `section` by "key=value", keeping the key as written in the
    // file; a missing key goes after the section's last non-blank line, a missing section at the
    // end of the file. The names must be storable (RaiseIfNotStorable) and trimmed, the value
    // one line.
    void SetValue(std::string_view section, std::string_view key, std::string_view value);

    // The names of the sections, in file order (a name given twice is listed twice).
    std::vector<std::string> SectionNames() const;

    // Removes every section of that name with all its lines up to the next section. The blank
    // lines that set off a removed last section go with it, so removing a section just added
    // gives back the bytes from before.
    void RemoveSection(std::string_view section);

    // The file's bytes in its own encoding and byte order mark, every line with its own ending.
    std::string Bytes() const;

private:
    enum class TEncoding { Utf8, Utf16LE, Utf16BE, Windows1252 };
    struct TLine {
        std::string text;
        std::string ending; // "\n", "\r\n", "\r", or "" on a last line without one
    };

    std::string Decode(std::string_view bytes);
    std::optional<size_t> FindSection(std::string_view section) const;
    size_t SectionEnd(size_t header) const;
    std::optional<size_t> FindKey(size_t header, std::string_view key) const;
    size_t LastContentLine(size_t header) const;
    size_t AppendSection(std::string_view section);
    std::string LineEnding() const;
    void InsertLine(size_t at, std::string text);

    TEncoding encoding_ = TEncoding::Utf8;
    std::string byteOrderMark_;
    std::vector<TLine> lines_;
};

// The text without the blanks and tabs at either end.
std::string_view TrimBlanks(std::string_view text);

// Raises Exception ("Invalid section name: ..." or "Invalid key name: ...") for a name that
// would not read back as the same section or key: empty once trimmed, with a line break, a
// section name with "]", a key name with "=" or starting like a comment or a section header.
void RaiseIfNotStorable(std::string_view section, std::string_view key);

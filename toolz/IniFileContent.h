#pragma once
// The settings file's content as one piece: read once, or changed in one store, for settings
// that belong together (several sections of them). Each value follows the rules of the single
// operations of INIToolz.h (ReadIniString, ReadIniBool, WriteIniString, WriteIniOptional).
//
//     IniFileContent file = ReadIniFileContent(path);
//     std::u16string port = file.ReadString(u"Main", u"Port", u"110");
//     UpdateIniFileContent([](IniFileContent& file) { file.RemoveSection(u"Mailbox3"); }, path);

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "toolz/IniText.h"

class IniFileContent {
public:
    // Raises EConvertError for damaged UTF-16 text (see TIniText).
    explicit IniFileContent(std::string_view bytes) : text_(bytes) {}

    // The sections in file order.
    std::vector<std::u16string> SectionNames() const;
    // The value, cut to 2047 characters; the fallback when the section or the key is missing.
    std::u16string ReadString(std::u16string_view section, std::u16string_view key,
                              std::u16string_view fallback) const;
    // The value read by IntegerFromText ("0x" allowed); true when not 0; the fallback when the
    // key is missing or holds no number.
    bool ReadBool(std::u16string_view section, std::u16string_view key, bool fallback) const;
    bool HasKey(std::u16string_view section, std::u16string_view key) const;

    // Adds or replaces "key=value" in the section (created when missing); line breaks in the
    // value become blanks. Raises Exception for a section or key name that cannot be stored.
    void WriteString(std::u16string_view section, std::u16string_view key, std::u16string_view value);
    // Only when the value differs from `defaultValue` or the key is there already.
    void WriteOptional(std::u16string_view section, std::u16string_view key, std::u16string_view value,
                       std::u16string_view defaultValue);
    void RemoveSection(std::u16string_view section);

    // The content in the file's own encoding and line ends.
    std::string Bytes() const { return text_.Bytes(); }

private:
    TIniText text_;
};

// The content of the settings file (empty fileName: SettingsFilePath()); a file that is missing
// or cannot be read reads as empty.
IniFileContent ReadIniFileContent(std::u16string_view fileName = {});

// Hands the file's content to `edit` and stores the result in one replace, under the same lock
// and with the same encoding rules as WritePrivateProfileString, so a reader finds all of the
// changes or none. A failure (the file read-only or unreadable, `edit` raising) is swallowed and
// leaves the file as it was.
void UpdateIniFileContent(const std::function<void(IniFileContent&)>& edit,
                          std::u16string_view fileName = {});

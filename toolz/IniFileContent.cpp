#include "toolz/IniFileContent.h"

#include "base/Text.h"
#include "toolz/INIToolz.h"
#include "toolz/SettingsFileStore.h"

namespace {

// The longest value a lookup returns: a 2048-character buffer less its terminating zero.
constexpr size_t LongestValue = 2047;

// A value lives on one line: line breaks in it become blanks.
std::string OneLine(std::u16string_view value) {
    std::string utf8 = TextToUtf8(value);
    for (auto& c : utf8)
        if (c == '\r' || c == '\n')
            c = ' ';
    return utf8;
}

std::u16string CutToLongestValue(std::u16string text) {
    if (text.size() > LongestValue) {
        text.resize(LongestValue);
        if (text.back() >= 0xD800 && text.back() <= 0xDBFF) // half of a character: drop it
            text.pop_back();
    }
    return text;
}

std::string FilePathOf(std::u16string_view fileName) {
    return TextToUtf8(fileName.empty() ? SettingsFilePath() : std::u16string(fileName));
}

std::string Name(std::u16string_view name) {
    return std::string(TrimBlanks(TextToUtf8(name)));
}

} // namespace

std::vector<std::u16string> IniFileContent::SectionNames() const {
    std::vector<std::u16string> names;
    for (const std::string& name : text_.SectionNames())
        names.push_back(Utf8ToText(name));
    return names;
}

std::u16string IniFileContent::ReadString(std::u16string_view section, std::u16string_view key,
                                          std::u16string_view fallback) const {
    const std::optional<std::string_view> value = text_.Value(Name(section), Name(key));
    return CutToLongestValue(value ? Utf8ToText(*value) : std::u16string(fallback));
}

bool IniFileContent::ReadBool(std::u16string_view section, std::u16string_view key, bool fallback) const {
    return IniTextToBool(ReadString(section, key, u""), fallback);
}

bool IniFileContent::HasKey(std::u16string_view section, std::u16string_view key) const {
    return text_.Value(Name(section), Name(key)).has_value();
}

void IniFileContent::WriteString(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view value) {
    const std::string sectionUtf8 = TextToUtf8(section), keyUtf8 = TextToUtf8(key);
    RaiseIfNotStorable(sectionUtf8, keyUtf8);
    text_.SetValue(TrimBlanks(sectionUtf8), TrimBlanks(keyUtf8), OneLine(value));
}

void IniFileContent::WriteOptional(std::u16string_view section, std::u16string_view key,
                                   std::u16string_view value, std::u16string_view defaultValue) {
    if (value != defaultValue || HasKey(section, key))
        WriteString(section, key, value);
}

void IniFileContent::RemoveSection(std::u16string_view section) {
    text_.RemoveSection(Name(section));
}

IniFileContent ReadIniFileContent(std::u16string_view fileName) {
    try {
        return IniFileContent(ReadFileIfPresent(FilePathOf(fileName)).value_or(""));
    } catch (...) {
        return IniFileContent("");
    }
}

void UpdateIniFileContent(const std::function<void(IniFileContent&)>& edit, std::u16string_view fileName) {
    try {
        UpdateFileUnderLock(FilePathOf(fileName), [&](const std::string& before) {
            IniFileContent content(before);
            edit(content);
            return content.Bytes();
        });
    } catch (...) {
        // As for every store of the settings: the file keeps what it had.
    }
}

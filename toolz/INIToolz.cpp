#include "toolz/INIToolz.h"

#include <optional>

#include "base/Integers.h"
#include "base/Text.h"
#include "toolz/IniFileContent.h"
#include "toolz/IniText.h"
#include "toolz/SettingsFileStore.h"
#include "toolz/SettingsLocation.h"

namespace {

constexpr std::u16string_view IniExtension = u".INI";
#ifdef BREVGLUGGEN_INSTALLED_LAYOUT
constexpr TSettingsLayout ProgramLayout = slInstalled;
#else
constexpr TSettingsLayout ProgramLayout = slBuildFolder;
#endif

std::string FilePathOf(std::u16string_view fileName) {
    return TextToUtf8(fileName.empty() ? SettingsFilePath() : std::u16string(fileName));
}

} // namespace

// ---- Locations ------------------------------------------------------------------------------

std::u16string IniPathBesideExecutable(std::u16string_view executablePath) {
    std::u16string extensionOrFolderEnd(PathSeparators());
    extensionOrFolderEnd += u'.';
    const size_t last = executablePath.find_last_of(extensionOrFolderEnd);
    const bool hasExtension = last != std::u16string_view::npos && executablePath[last] == u'.';
    return std::u16string(executablePath.substr(0, hasExtension ? last : executablePath.size())) +
           std::u16string(IniExtension);
}

std::u16string SettingsFilePathFor(std::u16string_view executablePath, TSettingsLayout layout) {
    const std::u16string beside = IniPathBesideExecutable(executablePath);
    const std::string besideUtf8 = TextToUtf8(beside);
    if (PathExists(beside))
        return beside;
    if (layout == slBuildFolder && FolderWritable(Utf8ToText(FolderOf(besideUtf8))))
        return beside;
    const std::u16string config = UserSettingsFolder();
    if (config.empty())
        return beside;
    return config + PathSeparators().front() + Utf8ToText(NameOf(besideUtf8));
}

std::u16string SettingsFilePath() {
    const std::u16string executable = RunningExecutablePath();
    return SettingsFilePathFor(executable.empty() ? std::u16string(u"brevgluggen") : executable,
                               ProgramLayout);
}

// ---- Private-profile layer ------------------------------------------------------------------

std::u16string GetPrivateProfileString(std::u16string_view section, std::u16string_view key,
                                       std::u16string_view defaultValue, std::u16string_view fileName) {
    const std::optional<std::string> bytes = ReadFileIfPresent(FilePathOf(fileName));
    return IniFileContent(bytes.value_or("")).ReadString(section, key, defaultValue);
}

void WritePrivateProfileString(std::u16string_view section, std::u16string_view key,
                               std::u16string_view value, std::u16string_view fileName) {
    RaiseIfNotStorable(TextToUtf8(section), TextToUtf8(key));
    UpdateFileUnderLock(FilePathOf(fileName), [&](const std::string& before) {
        IniFileContent content(before);
        content.WriteString(section, key, value);
        return content.Bytes();
    });
}

// ---- Settings values ------------------------------------------------------------------------

std::u16string ReadIniString(std::u16string_view section, std::u16string_view key,
                             std::u16string_view fallback, std::u16string_view fileName) {
    try {
        return GetPrivateProfileString(section, key, fallback, fileName);
    } catch (...) {
        return std::u16string(fallback);
    }
}

bool ReadIniBool(std::u16string_view section, std::u16string_view key, bool fallback,
                 std::u16string_view fileName) {
    return IniTextToBool(ReadIniString(section, key, u"", fileName), fallback);
}

bool IniTextToBool(std::u16string text, bool fallback) {
    if (text.size() >= 3 && (text.starts_with(u"0x") || text.starts_with(u"0X")))
        text.replace(0, 2, u"$");
    return IntegerFromText(text, fallback ? 1 : 0) != 0;
}

void WriteIniString(std::u16string_view section, std::u16string_view key, std::u16string_view value,
                    std::u16string_view fileName) {
    try {
        WritePrivateProfileString(section, key, value, fileName);
    } catch (...) {
        // A value that cannot be stored is dropped; the caller goes on with the next one.
    }
}

void WriteIniBool(std::u16string_view section, std::u16string_view key, bool value,
                  std::u16string_view fileName) {
    WriteIniString(section, key, value ? u"1" : u"0", fileName);
}

void WriteIniOptional(std::u16string_view section, std::u16string_view key, std::u16string_view value,
                      std::u16string_view defaultValue, std::u16string_view fileName) {
    // No stored value can hold a line break, so this fallback tells a missing key apart.
    constexpr std::u16string_view Missing = u"\n";
    if (value == defaultValue && ReadIniString(section, key, Missing, fileName) == Missing)
        return;
    WriteIniString(section, key, value, fileName);
}

int32_t IntegerFromText(std::u16string_view text, int32_t fallback) {
    while (text.starts_with(u' '))
        text.remove_prefix(1);
    return TryTextToInt(text).value_or(fallback);
}

#include "toolz/INIToolz.h"

#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Integers.h"
#include "base/Text.h"
#include "toolz/IniText.h"
#include "toolz/SettingsFileStore.h"

namespace {

// The longest value a lookup returns: a 2048-character buffer less its terminating zero.
constexpr size_t LongestValue = 2047;
constexpr std::u16string_view IniExtension = u".INI";
constexpr std::string_view ConfigSubfolder = "brevgluggen";
constexpr std::string_view DeletedSuffix = " (deleted)";
#ifdef BREVGLUGGEN_INSTALLED_LAYOUT
constexpr TSettingsLayout ProgramLayout = slInstalled;
#else
constexpr TSettingsLayout ProgramLayout = slBuildFolder;
#endif

// ---- Names and values -----------------------------------------------------------------------

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

// ---- Locations ------------------------------------------------------------------------------

std::string ExecutablePath() {
    std::string path(256, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0)
            return {};
        if (static_cast<size_t>(length) < path.size()) {
            path.resize(static_cast<size_t>(length));
            break;
        }
        path.resize(path.size() * 2);
    }
    // An executable replaced on disk while it runs is reported with this suffix.
    if (path.ends_with(DeletedSuffix) && access(path.c_str(), F_OK) != 0)
        path.resize(path.size() - DeletedSuffix.size());
    return path;
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return home;
    if (const passwd* user = getpwuid(getuid()); user != nullptr && user->pw_dir != nullptr)
        return user->pw_dir;
    return {};
}

// The program's folder under the user's configuration folder; empty when there is no home.
std::string ConfigFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/')
        return std::string(config) + "/" + std::string(ConfigSubfolder);
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : home + "/.config/" + std::string(ConfigSubfolder);
}

} // namespace

// ---- Locations ------------------------------------------------------------------------------

std::u16string IniPathBesideExecutable(std::u16string_view executablePath) {
    const size_t last = executablePath.find_last_of(u"./");
    const bool hasExtension = last != std::u16string_view::npos && executablePath[last] == u'.';
    return std::u16string(executablePath.substr(0, hasExtension ? last : executablePath.size())) +
           std::u16string(IniExtension);
}

std::u16string SettingsFilePathFor(std::u16string_view executablePath, TSettingsLayout layout) {
    const std::u16string beside = IniPathBesideExecutable(executablePath);
    const std::string besideUtf8 = TextToUtf8(beside);
    struct stat info {};
    if (lstat(besideUtf8.c_str(), &info) == 0)
        return beside;
    if (layout == slBuildFolder && access(FolderOf(besideUtf8).c_str(), W_OK) == 0)
        return beside;
    const std::string config = ConfigFolder();
    if (config.empty())
        return beside;
    return Utf8ToText(config + "/" + NameOf(besideUtf8));
}

std::u16string SettingsFilePath() {
    const std::string executable = ExecutablePath();
    return SettingsFilePathFor(Utf8ToText(executable.empty() ? std::string("brevgluggen") : executable),
                               ProgramLayout);
}

// ---- Private-profile layer ------------------------------------------------------------------

std::u16string GetPrivateProfileString(std::u16string_view section, std::u16string_view key,
                                       std::u16string_view defaultValue, std::u16string_view fileName) {
    const std::optional<std::string> bytes = ReadFileIfPresent(FilePathOf(fileName));
    if (!bytes)
        return CutToLongestValue(std::u16string(defaultValue));
    const TIniText ini(*bytes);
    const std::optional<std::string_view> value =
        ini.Value(TrimBlanks(TextToUtf8(section)), TrimBlanks(TextToUtf8(key)));
    return CutToLongestValue(value ? Utf8ToText(*value) : std::u16string(defaultValue));
}

void WritePrivateProfileString(std::u16string_view section, std::u16string_view key,
                               std::u16string_view value, std::u16string_view fileName) {
    const std::string sectionUtf8 = TextToUtf8(section), keyUtf8 = TextToUtf8(key);
    RaiseIfNotStorable(sectionUtf8, keyUtf8);
    UpdateFileUnderLock(FilePathOf(fileName), [&](const std::string& before) {
        TIniText ini(before);
        ini.SetValue(TrimBlanks(sectionUtf8), TrimBlanks(keyUtf8), OneLine(value));
        return ini.Bytes();
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
    std::u16string text = ReadIniString(section, key, u"", fileName);
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

int32_t IntegerFromText(std::u16string_view text, int32_t fallback) {
    while (text.starts_with(u' '))
        text.remove_prefix(1);
    return TryTextToInt(text).value_or(fallback);
}

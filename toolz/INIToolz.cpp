#include "toolz/INIToolz.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "transport/IdException.h"
#include "transport/IdGlobal.h"

namespace {

// The longest value a lookup returns: a 2048-character buffer less its terminating zero.
constexpr size_t LongestValue = 2047;
constexpr std::u16string_view IniExtension = u".INI";
constexpr std::string_view ConfigSubfolder = "brevgluggen";
constexpr std::string_view DeletedSuffix = " (deleted)";
constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr mode_t NewFolderMode = 0700;

// ---- Files ----------------------------------------------------------------------------------

[[noreturn]] void RaiseOSError(std::string_view action, const std::string& path, int error) {
    throw EOSError(error, Utf8ToText(std::string(action) + " " + path + ": " + std::strerror(error)));
}

// Closes its descriptor (and so drops any lock on it) when it goes out of scope.
class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd) : fd_(fd) {}
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    ~TFileDescriptor() {
        if (fd_ >= 0)
            close(fd_);
    }
    int Get() const { return fd_; }

private:
    int fd_;
};

std::string ReadAll(int fd, const std::string& path) {
    std::string content;
    char chunk[8192];
    for (;;) {
        const ssize_t count = read(fd, chunk, sizeof chunk);
        if (count == 0)
            return content;
        if (count < 0 && errno != EINTR)
            RaiseOSError("Cannot read", path, errno);
        if (count > 0)
            content.append(chunk, static_cast<size_t>(count));
    }
}

void WriteAll(int fd, std::string_view bytes, const std::string& path) {
    while (!bytes.empty()) {
        const ssize_t count = write(fd, bytes.data(), bytes.size());
        if (count < 0 && errno != EINTR)
            RaiseOSError("Cannot write", path, errno);
        if (count > 0)
            bytes.remove_prefix(static_cast<size_t>(count));
    }
}

// The file's bytes, or nothing when it does not exist.
std::optional<std::string> ReadFileIfPresent(const std::string& path) {
    const TFileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        RaiseOSError("Cannot open", path, errno);
    }
    return ReadAll(file.Get(), path);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

void CreateFolders(const std::string& folder) {
    struct stat info {};
    if (folder.empty() || stat(folder.c_str(), &info) == 0)
        return;
    CreateFolders(FolderOf(folder));
    if (mkdir(folder.c_str(), NewFolderMode) != 0 && errno != EEXIST)
        RaiseOSError("Cannot create folder", folder, errno);
}

// A settings file reached through a symbolic link is updated where the link points, so the
// link itself survives the rename that replaces the file.
std::string ResolveLink(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char* target = realpath(path.c_str(), nullptr);
    if (target == nullptr)
        return path;
    std::string resolved(target);
    std::free(target);
    return resolved;
}

bool PathNamesFile(const std::string& path, int fd) {
    struct stat atPath {};
    struct stat opened {};
    return stat(path.c_str(), &atPath) == 0 && fstat(fd, &opened) == 0 && atPath.st_dev == opened.st_dev &&
           atPath.st_ino == opened.st_ino;
}

// Opens the file (creating it empty when missing) and takes its exclusive lock. A writer that
// finished meanwhile has renamed a new file over the path, so the lock only counts while the
// path still names the locked file; otherwise it tries again with the new one.
int OpenLocked(const std::string& path) {
    for (;;) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd < 0)
            RaiseOSError("Cannot open", path, errno);
        int locked;
        while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            const int error = errno;
            close(fd);
            RaiseOSError("Cannot lock", path, error);
        }
        if (PathNamesFile(path, fd))
            return fd;
        close(fd);
    }
}

// A file without any write permission counts as read-only for every user, root included.
void RaiseIfReadOnly(int fd, const std::string& path) {
    struct stat info {};
    if (fstat(fd, &info) != 0)
        RaiseOSError("Cannot examine", path, errno);
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        RaiseOSError("Read-only file", path, EACCES);
}

mode_t PermissionsOf(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 ? (info.st_mode & 07777) : (S_IRUSR | S_IWUSR);
}

// Writes the bytes to a new file in the same folder, flushes it to disk and renames it over the
// path, so the path always names either the old or the new content in full.
void ReplaceFile(const std::string& path, std::string_view bytes, mode_t permissions) {
    std::string temporary = path + ".XXXXXX";
    const TFileDescriptor file(mkostemp(temporary.data(), O_CLOEXEC));
    if (file.Get() < 0)
        RaiseOSError("Cannot create a file beside", path, errno);
    try {
        if (fchmod(file.Get(), permissions) != 0)
            RaiseOSError("Cannot set permissions of", temporary, errno);
        WriteAll(file.Get(), bytes, temporary);
        if (fsync(file.Get()) != 0)
            RaiseOSError("Cannot flush", temporary, errno);
        if (rename(temporary.c_str(), path.c_str()) != 0)
            RaiseOSError("Cannot replace", path, errno);
    } catch (...) {
        unlink(temporary.c_str());
        throw;
    }
}

// ---- INI text -------------------------------------------------------------------------------

std::string_view TrimBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

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

// An INI file as its lines, each kept byte for byte with its own line ending, so that an update
// changes only the line it concerns.
class TIniText {
public:
    explicit TIniText(std::string_view bytes) {
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

    std::optional<std::string_view> Value(std::string_view section, std::string_view key) const {
        const auto header = FindSection(section);
        if (!header)
            return std::nullopt;
        const auto line = FindKey(*header, key);
        if (!line)
            return std::nullopt;
        return ValueOf(lines_[*line].text);
    }

    void SetValue(std::string_view section, std::string_view key, std::string_view value) {
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

    std::string Bytes() const {
        std::string out = byteOrderMark_;
        for (const auto& line : lines_)
            out += line.text + line.ending;
        return out;
    }

private:
    struct TLine {
        std::string text;
        std::string ending; // "\n", "\r\n", or "" on a last line without one
    };

    std::optional<size_t> FindSection(std::string_view section) const {
        for (size_t i = 0; i < lines_.size(); ++i)
            if (const auto name = SectionNameOf(lines_[i].text); name && SameNameIgnoringCase(*name, section))
                return i;
        return std::nullopt;
    }

    size_t SectionEnd(size_t header) const {
        size_t i = header + 1;
        while (i < lines_.size() && !SectionNameOf(lines_[i].text))
            ++i;
        return i;
    }

    std::optional<size_t> FindKey(size_t header, std::string_view key) const {
        const size_t end = SectionEnd(header);
        for (size_t i = header + 1; i < end; ++i)
            if (const auto name = KeyNameOf(lines_[i].text); name && SameNameIgnoringCase(*name, key))
                return i;
        return std::nullopt;
    }

    // The section's last line that is not blank: new keys go after it, before any blank lines
    // that separate the section from the next.
    size_t LastContentLine(size_t header) const {
        size_t last = header;
        const size_t end = SectionEnd(header);
        for (size_t i = header + 1; i < end; ++i)
            if (!TrimBlanks(lines_[i].text).empty())
                last = i;
        return last;
    }

    size_t AppendSection(std::string_view section) {
        if (!lines_.empty() && !TrimBlanks(lines_.back().text).empty())
            InsertLine(lines_.size(), "");
        InsertLine(lines_.size(), "[" + std::string(section) + "]");
        return lines_.size() - 1;
    }

    // New lines take the ending the file already uses.
    std::string LineEnding() const {
        return lines_.empty() || lines_.front().ending.empty() ? "\n" : lines_.front().ending;
    }

    void InsertLine(size_t at, std::string text) {
        const std::string ending = LineEnding();
        if (at > 0 && lines_[at - 1].ending.empty())
            lines_[at - 1].ending = ending;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), TLine{std::move(text), ending});
    }

    std::string byteOrderMark_;
    std::vector<TLine> lines_;
};

// ---- Names and values -----------------------------------------------------------------------

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

void RaiseIfNotStorable(std::string_view section, std::string_view key) {
    if (TrimBlanks(section).empty() || HasLineBreak(section) || section.find(']') != std::string_view::npos)
        throw Exception(u"Invalid section name: " + Utf8ToText(section));
    const std::string_view trimmedKey = TrimBlanks(key);
    if (trimmedKey.empty() || HasLineBreak(key) || key.find('=') != std::string_view::npos ||
        IsComment(trimmedKey) || trimmedKey.front() == '[')
        throw Exception(u"Invalid key name: " + Utf8ToText(key));
}

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

std::u16string SettingsFilePathFor(std::u16string_view executablePath) {
    const std::u16string beside = IniPathBesideExecutable(executablePath);
    const std::string besideUtf8 = TextToUtf8(beside);
    struct stat info {};
    if (lstat(besideUtf8.c_str(), &info) == 0 || access(FolderOf(besideUtf8).c_str(), W_OK) == 0)
        return beside;
    const std::string config = ConfigFolder();
    if (config.empty())
        return beside;
    return Utf8ToText(config + "/" + NameOf(besideUtf8));
}

std::u16string SettingsFilePath() {
    const std::string executable = ExecutablePath();
    return SettingsFilePathFor(Utf8ToText(executable.empty() ? std::string("brevgluggen") : executable));
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
    const std::string path = ResolveLink(FilePathOf(fileName));
    CreateFolders(FolderOf(path));
    const TFileDescriptor locked(OpenLocked(path));
    RaiseIfReadOnly(locked.Get(), path);
    const std::string before = ReadAll(locked.Get(), path);
    TIniText ini(before);
    ini.SetValue(TrimBlanks(sectionUtf8), TrimBlanks(keyUtf8), OneLine(value));
    const std::string after = ini.Bytes();
    if (after != before)
        ReplaceFile(path, after, PermissionsOf(locked.Get()));
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

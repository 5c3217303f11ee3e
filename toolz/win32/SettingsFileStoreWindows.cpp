// The settings file on Windows. The same store as elsewhere: read whole; rewritten through a
// flushed new file that replaces the old one, while a lock keeps other writers out.
//
// The lock is a named mutex per settings file, not a lock on the file itself: Windows does not
// replace a file that is held open, and the lock must be held across the replace, or a writer
// waiting for it could read the old content and overwrite the update that just landed.
//
// Encoding: the platform's own private-profile functions write a new file in the ANSI code page
// and read UTF-16 with a byte order mark. The program keeps whatever a file has: UTF-8 or UTF-16
// files stay as they are, and a file in the ANSI code page stays there as long as its text fits
// (so the platform's functions and earlier copies of the program read it as before); a value
// with a character that the code page cannot hold turns the whole file into UTF-16 LE with a
// byte order mark instead of a "?". The rest of the program sees the text as UTF-8.
#include "toolz/SettingsFileStore.h"

#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/Exceptions.h"
#include "base/Text.h"
#include "base/WindowsText.h"

namespace {

constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view Utf16LEByteOrderMark = "\xFF\xFE";
constexpr std::string_view Utf16BEByteOrderMark = "\xFE\xFF";
// How often, and how long apart, a replace that meets a reader holding the file is tried.
constexpr int ReplaceAttempts = 50;
constexpr DWORD ReplacePauseMs = 10;
// Links followed to find the file a store writes, as on other systems.
constexpr int MaxLinkHops = 40;

[[noreturn]] void RaiseOSError(std::string_view action, const std::string& path, DWORD error) {
    throw EOSError(static_cast<int32_t>(error),
                   Utf8ToText(std::string(action) + " " + path + ": ") + SystemErrorText(error));
}

std::u16string WidePath(const std::string& path) {
    return Utf8ToText(path);
}

// Closes its handle when it goes out of scope.
class THandle {
public:
    explicit THandle(HANDLE handle) : handle_(handle) {}
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    ~THandle() {
        if (Valid())
            CloseHandle(handle_);
    }
    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

private:
    HANDLE handle_;
};

// ---- Encodings ------------------------------------------------------------------------------

bool HasByteOrderMark(std::string_view bytes) {
    return bytes.starts_with(Utf8ByteOrderMark) || bytes.starts_with(Utf16LEByteOrderMark) ||
           bytes.starts_with(Utf16BEByteOrderMark);
}

bool IsAscii(std::string_view bytes) {
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

bool IsUtf8(std::string_view bytes) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                               nullptr, 0) > 0 ||
           bytes.empty();
}

// A file without a byte order mark whose bytes are not UTF-8 is in the ANSI code page, as the
// platform's functions write it. Plain ASCII counts as ANSI too: it is the same bytes.
bool IsAnsiFile(std::string_view bytes) {
    return !HasByteOrderMark(bytes) && (IsAscii(bytes) || !IsUtf8(bytes));
}

std::string AnsiToUtf8(std::string_view bytes) {
    const int length =
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::u16string text(static_cast<size_t>(length), u'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                        reinterpret_cast<wchar_t*>(text.data()), length);
    return TextToUtf8(text);
}

// The text in the ANSI code page; nothing when a character has no place there.
std::optional<std::string> Utf8ToAnsi(std::string_view utf8) {
    const std::u16string text = Utf8ToText(utf8);
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int count = static_cast<int>(text.size());
    BOOL usedDefault = FALSE;
    const int length =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, count, nullptr, 0, nullptr, &usedDefault);
    if (usedDefault)
        return std::nullopt;
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, count, bytes.data(), length, nullptr,
                        &usedDefault);
    return bytes;
}

std::string Utf8ToUtf16LE(std::string_view utf8) {
    std::string bytes(Utf16LEByteOrderMark);
    for (const char16_t unit : Utf8ToText(utf8)) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

// The file's bytes as the INI text model reads them.
std::string TextOfFile(const std::string& bytes) {
    return HasByteOrderMark(bytes) || IsUtf8(bytes) ? bytes : AnsiToUtf8(bytes);
}

// A new file gets the platform's line ends.
std::string WithCrLf(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

// The edited text in the file's own encoding (see the top of this file).
std::string BytesForFile(const std::string& before, const std::string& after) {
    if (!IsAnsiFile(before))
        return after;
    const std::string text = before.empty() ? WithCrLf(after) : after;
    if (IsAscii(text))
        return text;
    if (std::optional<std::string> ansi = Utf8ToAnsi(text))
        return *ansi;
    return Utf8ToUtf16LE(text);
}

// ---- Files ----------------------------------------------------------------------------------

HANDLE OpenForReading(const std::string& path) {
    // Shared for writing and deleting, so that a reader never holds up a store.
    return CreateFileW(WideChars(WidePath(path)), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ReadAll(HANDLE file, const std::string& path) {
    if (GetFileType(file) != FILE_TYPE_DISK)
        RaiseOSError("Not a regular file", path, ERROR_INVALID_PARAMETER);
    std::string content;
    std::string chunk(64 * 1024, '\0');
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &count, nullptr))
            RaiseOSError("Cannot read", path, GetLastError());
        if (count == 0)
            return content;
        content.append(chunk.data(), count);
        if (content.size() > MaxSettingsFileSize)
            RaiseOSError("Too large", path, ERROR_FILE_TOO_LARGE);
    }
}

bool IsMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void CreateFolders(const std::string& folder) {
    if (folder.empty() || folder == "." ||
        GetFileAttributesW(WideChars(WidePath(folder))) != INVALID_FILE_ATTRIBUTES)
        return;
    const std::string parent = FolderOf(folder);
    if (parent != folder)
        CreateFolders(parent);
    if (!CreateDirectoryW(WideChars(WidePath(folder)), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        RaiseOSError("Cannot create folder", folder, GetLastError());
}

// Writers of one settings file take turns through a mutex named after the file's full path
// (its letter case folded, as the file system does).
class TSettingsFileLock {
public:
    explicit TSettingsFileLock(const std::string& path)
        : mutex_(CreateMutexW(nullptr, FALSE, WideChars(NameFor(path)))) {
        if (!mutex_.Valid())
            RaiseOSError("Cannot lock", path, GetLastError());
        const DWORD waited = WaitForSingleObject(mutex_.Get(), INFINITE);
        // An abandoned mutex is ours as well: its owner ended before it could store.
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
            RaiseOSError("Cannot lock", path, GetLastError());
    }
    ~TSettingsFileLock() { ReleaseMutex(mutex_.Get()); }
    TSettingsFileLock(const TSettingsFileLock&) = delete;
    TSettingsFileLock& operator=(const TSettingsFileLock&) = delete;

private:
    static std::u16string NameFor(const std::string& path) {
        std::u16string full(MAX_PATH, u'\0');
        const DWORD length = GetFullPathNameW(WideChars(WidePath(path)), static_cast<DWORD>(full.size()),
                                              reinterpret_cast<wchar_t*>(full.data()), nullptr);
        full.resize(length > 0 && length < full.size() ? length : 0);
        if (full.empty())
            full = WidePath(path);
        CharUpperBuffW(reinterpret_cast<wchar_t*>(full.data()), static_cast<DWORD>(full.size()));
        // FNV-1a over the path: mutex names cannot hold "\".
        uint64_t hash = 14695981039346656037ull;
        for (const char16_t unit : full)
            hash = (hash ^ unit) * 1099511628211ull;
        std::u16string name = u"Local\\brevgluggen-settings-";
        for (int shift = 60; shift >= 0; shift -= 4)
            name += u"0123456789abcdef"[(hash >> shift) & 0xF];
        return name;
    }

    THandle mutex_;
};

void WriteAll(HANDLE file, std::string_view bytes, const std::string& path) {
    while (!bytes.empty()) {
        DWORD count = 0;
        if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr))
            RaiseOSError("Cannot write", path, GetLastError());
        bytes.remove_prefix(count);
    }
}

// Puts the new file in the old one's place. The old file's attributes and security go to the
// new one (ReplaceFileW); a reader that holds the old file for a moment is waited for.
void PutInPlace(const std::string& temporary, const std::string& path, bool existed) {
    const std::u16string from = WidePath(temporary), to = WidePath(path);
    for (int attempt = 1;; ++attempt) {
        const BOOL replaced = existed ? ReplaceFileW(WideChars(to), WideChars(from), nullptr,
                                                     REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                                      : MoveFileExW(WideChars(from), WideChars(to),
                                                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (replaced)
            return;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED &&
            error != ERROR_UNABLE_TO_REMOVE_REPLACED)
            RaiseOSError("Cannot replace", path, error);
        if (attempt == ReplaceAttempts)
            RaiseOSError("Cannot replace", path, error);
        Sleep(ReplacePauseMs);
    }
}

// Writes the bytes to a new file in the same folder, flushes it to disk and puts it in the
// file's place, so the path always names either the old or the new content in full.
void ReplaceFile(const std::string& path, std::string_view bytes, bool existed) {
    const std::string temporary = path + "." + std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(GetCurrentThreadId()) + ".new";
    {
        const THandle file(CreateFileW(WideChars(WidePath(temporary)), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid())
            RaiseOSError("Cannot create a file beside", path, GetLastError());
        try {
            WriteAll(file.Get(), bytes, temporary);
            if (!FlushFileBuffers(file.Get()))
                RaiseOSError("Cannot flush", temporary, GetLastError());
        } catch (...) {
            CloseHandle(file.Get());
            DeleteFileW(WideChars(WidePath(temporary)));
            throw;
        }
    }
    try {
        PutInPlace(temporary, path, existed);
    } catch (...) {
        DeleteFileW(WideChars(WidePath(temporary)));
        throw;
    }
}

bool IsPathSeparator(char c) {
    return c == '\\' || c == '/';
}

// The layout of a symbolic link's reparse data (the driver kit's REPARSE_DATA_BUFFER).
struct SymbolicLinkData {
    ULONG tag;
    USHORT dataLength;
    USHORT reserved;
    USHORT substituteOffset;
    USHORT substituteLength;
    USHORT printOffset;
    USHORT printLength;
    ULONG flags;
    WCHAR path[1];
};
constexpr ULONG RelativeLink = 1; // SYMLINK_FLAG_RELATIVE

// Where the symbolic link at `path` points, as written in it; nothing for any other file.
std::optional<std::string> SymbolicLinkTarget(const std::string& path) {
    const THandle link(CreateFileW(
        WideChars(WidePath(path)), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!link.Valid())
        return std::nullopt;
    std::vector<unsigned char> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD size = 0;
    if (!DeviceIoControl(link.Get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &size, nullptr) ||
        size < offsetof(SymbolicLinkData, path))
        return std::nullopt;
    const auto* data = reinterpret_cast<const SymbolicLinkData*>(buffer.data());
    if (data->tag != IO_REPARSE_TAG_SYMLINK)
        return std::nullopt;
    const bool print = data->printLength > 0;
    const size_t offset = print ? data->printOffset : data->substituteOffset;
    const size_t length = print ? data->printLength : data->substituteLength;
    if (offsetof(SymbolicLinkData, path) + offset + length > size)
        return std::nullopt;
    std::u16string target(reinterpret_cast<const char16_t*>(data->path) + offset / 2, length / 2);
    if (!print && target.starts_with(u"\\??\\"))
        target.erase(0, 4);
    if (data->flags & RelativeLink)
        return FolderOf(path) + "\\" + TextToUtf8(target);
    return TextToUtf8(target);
}

// The file a store writes: where the path's symbolic links lead, followed one by one, so that the
// store replaces the target and keeps the link; also when the target does not exist yet.
std::string ResolveLink(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < MaxLinkHops; ++hop) {
        const DWORD attributes = GetFileAttributesW(WideChars(WidePath(current)));
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return current;
        std::optional<std::string> target = SymbolicLinkTarget(current);
        if (!target)
            return current;
        current = std::move(*target);
    }
    RaiseOSError("Cannot follow the link", path, ERROR_CANT_RESOLVE_FILENAME);
}

} // namespace

std::optional<std::string> ReadFileIfPresent(const std::string& path) {
    const THandle file(OpenForReading(path));
    if (!file.Valid()) {
        const DWORD error = GetLastError();
        if (IsMissing(error))
            return std::nullopt;
        RaiseOSError("Cannot open", path, error);
    }
    return TextOfFile(ReadAll(file.Get(), path));
}

void UpdateFileUnderLock(const std::string& linkOrFile,
                         const std::function<std::string(const std::string&)>& edit) {
    const std::string path = ResolveLink(linkOrFile);
    CreateFolders(FolderOf(path));
    const TSettingsFileLock lock(path);
    const DWORD attributes = GetFileAttributesW(WideChars(WidePath(path)));
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    if (existed && (attributes & FILE_ATTRIBUTE_READONLY))
        RaiseOSError("Read-only file", path, ERROR_ACCESS_DENIED);
    std::string before;
    if (existed) {
        const THandle file(OpenForReading(path));
        if (!file.Valid())
            RaiseOSError("Cannot open", path, GetLastError());
        before = ReadAll(file.Get(), path);
    }
    const std::string text = TextOfFile(before);
    const std::string after = edit(text);
    if (after.size() > MaxSettingsFileSize)
        RaiseOSError("Too large", path, ERROR_FILE_TOO_LARGE);
    if (after != text || !existed)
        ReplaceFile(path, BytesForFile(before, after), existed);
}

std::string FolderOf(const std::string& path) {
    size_t separator = path.size();
    while (separator > 0 && !IsPathSeparator(path[separator - 1]))
        --separator;
    if (separator == 0)
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    const std::string folder = path.substr(0, separator - 1);
    // "C:\" and "\" keep their separator: without it they mean something else.
    if (folder.empty() || (folder.size() == 2 && folder[1] == ':'))
        return path.substr(0, separator);
    return folder;
}

std::string NameOf(const std::string& path) {
    size_t separator = path.size();
    while (separator > 0 && !IsPathSeparator(path[separator - 1]) && path[separator - 1] != ':')
        --separator;
    return path.substr(separator);
}

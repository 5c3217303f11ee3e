#pragma once
// The settings file on disk: read whole, or rewritten under an exclusive lock through a flushed
// temporary file renamed over it, so concurrent writers lose nothing and a reader always finds
// either the old or the new content in full. Only a regular file of at most MaxSettingsFileSize
// bytes is read: a named pipe, a device or a huge file in its place can neither hold up the
// program nor fill its memory. Failures raise EOSError.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

inline constexpr size_t MaxSettingsFileSize = 1 << 20;

// The file's bytes, or nothing when it does not exist (also a dangling symbolic link). Raises
// EOSError when the file exists but cannot be opened or read, is not a regular file or is
// larger than MaxSettingsFileSize.
std::optional<std::string> ReadFileIfPresent(const std::string& path);

// Hands the file's current bytes to `edit` and stores what it returns, all under the file's
// exclusive lock. A missing file is created empty (mode 0600) with its missing folders (mode
// 0700); a path that is a symbolic link, also a dangling one, is updated where the link points,
// keeping the link. The file is replaced only when `edit` changed something, keeping its
// permissions. Raises EOSError when the file is read-only (no write permission bit at all), not
// a regular file, larger than MaxSettingsFileSize before or after the edit, or cannot be opened,
// locked, read or replaced; the file then keeps its old content, as it does when `edit` raises.
void UpdateFileUnderLock(const std::string& path, const std::function<std::string(const std::string&)>& edit);

// The folder part of a path: "." for a bare name, "/" for a file in the root folder.
std::string FolderOf(const std::string& path);

// The last component of a path.
std::string NameOf(const std::string& path);

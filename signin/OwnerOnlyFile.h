#pragma once
// The owner-only file of the secret-file fallback, read and written with the platform's own file
// calls (no streams: they would double the size of the Windows program).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The separator of the platform's paths.
#ifdef _WIN32
inline constexpr char16_t PathSeparator = u'\\';
#else
inline constexpr char16_t PathSeparator = u'/';
#endif

// Files larger than this are not ours and are read as missing.
inline constexpr size_t OwnerOnlyFileLimit = 1024 * 1024;

// The file's bytes; nothing when it is not there, is larger than the limit or a read fails. It is opened
// without following a link at its place and made readable by the current user alone before it is
// read. Raises ESecretStoreError, saying why, when it is a link or no plain file, belongs to
// another user (POSIX), cannot be made owner-only, or cannot be opened.
std::optional<std::string> ReadOwnerOnlyFile(const std::u16string& path);
// Replaces the file at path by one holding bytes that the current user alone may read or write: a new
// file beside it, renamed over it. Raises ESecretStoreError.
void ReplaceOwnerOnlyFile(const std::u16string& path, std::string_view bytes);
// Removes the file; one that is not there is no fault.
void RemoveOwnerOnlyFile(const std::u16string& path);

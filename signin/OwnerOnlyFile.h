#pragma once
// The owner-only file of the secret-file fallback, written the platform's way.

#include <filesystem>
#include <string_view>

// Replaces the file at path by one holding bytes that the current user alone may read or write: a new
// file beside it, renamed over it. Raises ESecretStoreError.
void ReplaceOwnerOnlyFile(const std::filesystem::path& path, std::string_view bytes);

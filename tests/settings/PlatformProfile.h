#pragma once
// The platform's own private-profile functions, for comparing files with what they write and
// read. Kept apart from toolz/INIToolz.h, whose functions share their names.

#include <string>

// WritePrivateProfileStringW; false when it reports failure.
bool PlatformWriteProfileString(const std::u16string& section, const std::u16string& key,
                                const std::u16string& value, const std::u16string& file);
// GetPrivateProfileStringW with an empty default.
std::u16string PlatformReadProfileString(const std::u16string& section, const std::u16string& key,
                                         const std::u16string& file);

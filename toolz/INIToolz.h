#pragma once
// The settings file: an INI text file, read and written one value per call.

#include <cstdint>
#include <string>
#include <string_view>

// The running executable's path with its extension replaced by ".INI"; see INIToolz.cpp for
// the fallback to the user's configuration folder.
std::u16string SettingsFilePath();

// Each returns the fallback when the file, the section or the key is missing, or on any error.
// An empty file name means SettingsFilePath().
std::u16string ReadIniString(std::u16string_view section, std::u16string_view key, std::u16string_view fallback,
                             std::u16string_view fileName = {});
bool ReadIniBool(std::u16string_view section, std::u16string_view key, bool fallback,
                 std::u16string_view fileName = {});

// Each stores the value, creating file and section when missing; failures are swallowed.
void WriteIniString(std::u16string_view section, std::u16string_view key, std::u16string_view value,
                    std::u16string_view fileName = {});
void WriteIniBool(std::u16string_view section, std::u16string_view key, bool value,
                  std::u16string_view fileName = {});

// Text to a signed 32-bit integer: optional blanks, sign, decimal digits or hexadecimal after
// "$", "x" or "0x"; the fallback when the text is not a number in this syntax.
int32_t IntegerFromText(std::u16string_view text, int32_t fallback);

#pragma once
// The settings file: an INI text file (UTF-8, or UTF-16 with a byte order mark), read and written
// one value per call.

#include <cstdint>
#include <string>
#include <string_view>

// ---- Where the settings live ----------------------------------------------------------------

// Which rule places the settings file: a build run from its build folder keeps it beside the
// executable; a build made for installing keeps it in the user's configuration folder.
enum TSettingsLayout : uint8_t { slBuildFolder, slInstalled };

// The settings file of the running executable (/proc/self/exe) by the rule this build was made
// with (BREVGLUGGEN_INSTALLED_LAYOUT); see SettingsFilePathFor.
std::u16string SettingsFilePath();

// The settings file for an executable at `executablePath`. The file beside it (its extension
// replaced by ".INI") always wins when it exists: a portable copy keeps its settings with it.
// Otherwise the same file name in "brevgluggen" under $XDG_CONFIG_HOME (else ~/.config):
// always for slInstalled; for slBuildFolder only when the executable's folder cannot be
// written. Without a home folder the file beside the executable.
std::u16string SettingsFilePathFor(std::u16string_view executablePath, TSettingsLayout layout);

// The path with the extension of its last component replaced by ".INI" (appended when the last
// component has none): /opt/a.b.exe gives /opt/a.b.INI, /my.tools/Watch gives /my.tools/Watch.INI.
std::u16string IniPathBesideExecutable(std::u16string_view executablePath);

// ---- Settings values: the operations the program calls --------------------------------------

// Each returns the fallback when the file, the section or the key is missing, or on any error.
// An empty file name means SettingsFilePath(). Values come back cut to 2047 characters.
std::u16string ReadIniString(std::u16string_view section, std::u16string_view key,
                             std::u16string_view fallback, std::u16string_view fileName = {});
// The stored text read by IntegerFromText ("0x" allowed); true when not 0. The fallback also
// when the stored text is not a number.
bool ReadIniBool(std::u16string_view section, std::u16string_view key, bool fallback,
                 std::u16string_view fileName = {});

// A stored flag's text read by IntegerFromText ("0x" allowed): true when not 0; the fallback
// when the text is no number.
bool IniTextToBool(std::u16string text, bool fallback);

// Each stores the value, creating file and section when missing; failures are swallowed.
void WriteIniString(std::u16string_view section, std::u16string_view key, std::u16string_view value,
                    std::u16string_view fileName = {});
// Stores "1" for true and "0" for false.
void WriteIniBool(std::u16string_view section, std::u16string_view key, bool value,
                  std::u16string_view fileName = {});
// For keys beyond the first seven: stores the value only when it differs from `defaultValue` or
// the key is already in the file, so a file that never needed the key keeps its first form.
void WriteIniOptional(std::u16string_view section, std::u16string_view key, std::u16string_view value,
                      std::u16string_view defaultValue, std::u16string_view fileName = {});

// Text to a signed 32-bit integer: optional blanks, sign, decimal digits or hexadecimal after
// "$", "x" or "0x"; the fallback when the text is not a number in this syntax.
int32_t IntegerFromText(std::u16string_view text, int32_t fallback);

// ---- Private-profile layer: one lookup or one update of an INI file --------------------------

// The value of `key` in `section` (names matched ignoring ASCII letter case, blanks around the
// value removed), cut to 2047 characters; `defaultValue` when the file, section or key is
// missing. Raises EOSError when the file exists but cannot be read, is no regular file or is
// larger than 1 MiB, and EConvertError when its UTF-16 text is damaged.
std::u16string GetPrivateProfileString(std::u16string_view section, std::u16string_view key,
                                       std::u16string_view defaultValue, std::u16string_view fileName);

// Adds or replaces the line "key=value" in `section`, creating file (mode 0600), folder and
// section when missing; every other line stays as it was, and the file keeps its encoding. Line
// breaks in the value become blanks. The file is replaced atomically (a flushed new file renamed
// over it) under an exclusive lock, so concurrent writers lose nothing; through a symbolic link
// its target is replaced. A file that GetPrivateProfileString could not read is left as it is.
// Raises EOSError when the file is read-only or cannot be read or written, EConvertError for
// damaged UTF-16 text, and Exception for a section or key name that cannot be stored.
void WritePrivateProfileString(std::u16string_view section, std::u16string_view key,
                               std::u16string_view value, std::u16string_view fileName);

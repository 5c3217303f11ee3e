#pragma once
// Whether the program starts with the user's desktop session. On Linux that is a desktop entry in
// the user's autostart folder ($XDG_CONFIG_HOME/autostart, else ~/.config/autostart) whose command
// is the running executable; on Windows a value of the user's
// HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run key naming it.

#include <string>
#include <string_view>

// The entry's name: the file "<name>.desktop", or the value "<name>".
inline constexpr std::u16string_view StartEntryName = u"brevgluggen";

// True when the entry of this name exists, is not switched off and starts this very executable.
bool StartsWithDesktop(std::u16string_view name = StartEntryName);

// Writes the entry for the running executable, or removes the entry of this name (nothing to
// remove is no failure). Raises Exception with the reason when the entry cannot be written or
// removed, or when the executable's path cannot be written into an entry.
void SetStartsWithDesktop(bool start, std::u16string_view name = StartEntryName);

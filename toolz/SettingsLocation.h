#pragma once
// What the settings file's place depends on, as the platform answers it.

#include <string>
#include <string_view>

// The running executable's full path; empty when the system cannot tell.
std::u16string RunningExecutablePath();

// True when something (a file, a folder, a link) has this name.
bool PathExists(std::u16string_view path);

// True when this program may create files in the folder.
bool FolderWritable(std::u16string_view folder);

// The folder "brevgluggen" in the user's own folder for program settings; empty when the user
// has none.
std::u16string UserSettingsFolder();

// The folder "brevgluggen" in the user's own folder for what a program keeps between runs
// that is neither settings nor documents; empty when the user has none.
std::u16string UserStateFolder();

// The characters that end a folder name in a path (the last one found before the file name).
std::u16string_view PathSeparators();

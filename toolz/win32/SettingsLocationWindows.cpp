// The settings file's place on Windows: the module file name of the process, and
// %APPDATA%\brevgluggen for the user's own folder, %LOCALAPPDATA%\brevgluggen for the state.
#include "toolz/SettingsLocation.h"

#include <windows.h>

#include <string>

#include "base/Text.h"
#include "base/WindowsText.h"

std::u16string RunningExecutablePath() {
    std::u16string path(MAX_PATH + 1, u'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path.data()),
                                                static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

bool PathExists(std::u16string_view path) {
    return GetFileAttributesW(WideChars(std::u16string(path))) != INVALID_FILE_ATTRIBUTES;
}

// The folder's access rules decide (an install under Program Files has them), and only trying
// tells: a file is created there and removed again at once.
bool FolderWritable(std::u16string_view folder) {
    const std::u16string probe = std::u16string(folder) + u"\\brevgluggen-" +
                                 AsciiToText(std::to_string(GetCurrentProcessId())) + u".probe";
    const HANDLE file = CreateFileW(WideChars(probe), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_EXISTS;
    CloseHandle(file);
    return true;
}

namespace {

// The folder "brevgluggen" in the folder the environment variable names.
std::u16string ProgramFolderIn(const wchar_t* variable) {
    std::u16string folder(MAX_PATH, u'\0');
    const DWORD length = GetEnvironmentVariableW(variable, reinterpret_cast<wchar_t*>(folder.data()),
                                                 static_cast<DWORD>(folder.size()));
    if (length == 0 || length >= folder.size())
        return {};
    folder.resize(length);
    return folder + u"\\brevgluggen";
}

} // namespace

std::u16string UserSettingsFolder() {
    return ProgramFolderIn(L"APPDATA");
}

std::u16string UserStateFolder() {
    return ProgramFolderIn(L"LOCALAPPDATA");
}

std::u16string_view PathSeparators() {
    return u"\\/:";
}

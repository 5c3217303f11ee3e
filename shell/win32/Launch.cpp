#include "shell/Launch.h"

#include <windows.h>

#include <shellapi.h>

#include "shell/win32/Win32Bridge.h"

// SEE_MASK_FLAG_NO_UI: a document without a handler must not open a box that waits for the user.
bool ShellOpenDocument(std::u16string_view document) {
    const std::wstring file = ToWide(document);
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_FLAG_NO_UI;
    execute.hwnd = GetForegroundWindow();
    execute.lpFile = file.c_str();
    execute.nShow = SW_SHOW;
    return ShellExecuteExW(&execute) != FALSE;
}

// The program is named on its own, and quoted as the first word of its command line, so a path
// with blanks starts exactly this file and never a shorter one ("C:\Program.exe" for
// "C:\Program Files\...").
bool StartDetachedProcess(std::u16string_view path) {
    const std::wstring program = ToWide(path);
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started))
        return false;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

// The start with the desktop session on Windows: a value of the user's Run key.

#include <windows.h>

#include "base/Exceptions.h"
#include "toolz/SettingsLocation.h"
#include "toolz/StartWithDesktop.h"

namespace {

constexpr wchar_t RunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

[[noreturn]] void Fail(std::u16string_view action, LONG error) {
    wchar_t* reason = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&reason), 0, nullptr);
    std::u16string message(action);
    if (reason) {
        message += u": ";
        for (const wchar_t* c = reason; *c && *c != L'\r' && *c != L'\n'; ++c)
            message += static_cast<char16_t>(*c);
        LocalFree(reason);
    }
    throw EOSError(static_cast<int32_t>(error), message);
}

// The program a Run value starts: the quoted first part, or the whole value without quotes.
std::wstring RunProgram(std::wstring value) {
    if (!value.empty() && value[0] == L'"') {
        const size_t end = value.find(L'"', 1);
        return value.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
    }
    return value;
}

} // namespace

bool StartsWithDesktop(std::u16string_view name) {
    wchar_t value[MAX_PATH * 4] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, RunKey, Wide(name).c_str(), RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return false;
    const std::wstring program = RunProgram(value);
    return CompareStringOrdinal(program.c_str(), -1, Wide(RunningExecutablePath()).c_str(), -1, TRUE) ==
           CSTR_EQUAL;
}

void SetStartsWithDesktop(bool start, std::u16string_view name) {
    HKEY key = nullptr;
    LONG result =
        RegCreateKeyExW(HKEY_CURRENT_USER, RunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS)
        Fail(u"Cannot open the Run key", result);
    const std::wstring valueName = Wide(name);
    if (start) {
        const std::u16string executable = RunningExecutablePath();
        if (executable.empty()) {
            RegCloseKey(key);
            throw Exception(u"The program cannot tell its own path.");
        }
        const std::wstring command = L"\"" + Wide(executable) + L"\"";
        result =
            RegSetValueExW(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                           static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    } else {
        result = RegDeleteValueW(key, valueName.c_str());
        if (result == ERROR_FILE_NOT_FOUND)
            result = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        Fail(start ? u"Cannot write the Run value" : u"Cannot remove the Run value", result);
}

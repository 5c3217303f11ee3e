#include "tests/settings/PlatformProfile.h"

#include <windows.h>

#include "base/WindowsText.h"

bool PlatformWriteProfileString(const std::u16string& section, const std::u16string& key,
                                const std::u16string& value, const std::u16string& file) {
    const bool written =
        WritePrivateProfileStringW(WideChars(section), WideChars(key), WideChars(value), WideChars(file));
    // Flushes the platform's cached copy of the file.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, WideChars(file));
    return written;
}

std::u16string PlatformReadProfileString(const std::u16string& section, const std::u16string& key,
                                         const std::u16string& file) {
    wchar_t value[2048] = {};
    const DWORD length =
        GetPrivateProfileStringW(WideChars(section), WideChars(key), L"", value, 2048, WideChars(file));
    return TextFromWide(value, length);
}

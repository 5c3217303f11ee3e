#include "shell/FilesAndLocale.h"

#include "shell/win32/Win32Bridge.h"

bool FileExists(std::u16string_view path) {
    if (path.empty())
        return false;
    const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

char16_t LocaleThousandSeparator() {
    wchar_t separator[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, separator, 8) < 2)
        return u',';
    return static_cast<char16_t>(separator[0]);
}

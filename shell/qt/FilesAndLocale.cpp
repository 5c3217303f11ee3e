#include "shell/FilesAndLocale.h"

#include <QLocale>
#include <filesystem>
#include <system_error>

#include "base/Text.h"

bool FileExists(std::u16string_view path) {
    if (path.empty())
        return false;
    std::error_code error;
    const auto status = std::filesystem::status(std::filesystem::u8path(TextToUtf8(path)), error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

char16_t LocaleThousandSeparator() {
    const QString separator = QLocale::system().groupSeparator();
    return separator.isEmpty() ? u',' : separator.at(0).unicode();
}

#include "toolz/INIToolz.h"

// Placeholder until the settings file lands: nothing is stored, every read gives its fallback.
std::u16string SettingsFilePath() { return {}; }
std::u16string ReadIniString(std::u16string_view, std::u16string_view, std::u16string_view fallback,
                             std::u16string_view) {
    return std::u16string(fallback);
}
bool ReadIniBool(std::u16string_view, std::u16string_view, bool fallback, std::u16string_view) { return fallback; }
void WriteIniString(std::u16string_view, std::u16string_view, std::u16string_view, std::u16string_view) {}
void WriteIniBool(std::u16string_view, std::u16string_view, bool, std::u16string_view) {}
int32_t IntegerFromText(std::u16string_view text, int32_t fallback) {
    int64_t value = 0;
    if (text.empty() || text.size() > 9)
        return fallback;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9')
            return fallback;
        value = value * 10 + (c - u'0');
    }
    return static_cast<int32_t>(value);
}

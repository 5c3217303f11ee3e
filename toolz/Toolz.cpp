#include "toolz/Toolz.h"

#include <optional>

#include "base/Text.h"
#include "shell/Dialogs.h"
#include "shell/FilesAndLocale.h"
#include "shell/Launch.h"
#include "toolz/ThreadLocale.h"

// ---- Language -------------------------------------------------------------------------------

namespace {

constexpr int32_t EnglishUnitedStates = 1033;
constexpr int32_t SwedishSweden = 1053;

std::vector<std::u16string>& CommandLineArguments() {
    static std::vector<std::u16string> arguments;
    return arguments;
}

int32_t& CapturedLocale() {
    static int32_t locale = EnglishUnitedStates;
    return locale;
}

std::optional<TUiLanguage> LanguageSwitch(std::u16string_view argument) {
    const std::u16string upper = AsciiUpperCase(argument);
    if (upper == u"/SWEDISH")
        return ulSwedish;
    if (upper == u"/ENGLISH")
        return ulEnglish;
    return std::nullopt;
}

} // namespace

void SetCommandLineArguments(std::vector<std::u16string> arguments) {
    CommandLineArguments() = std::move(arguments);
}

void CaptureThreadLocale() {
    CapturedLocale() = ThreadLocaleId();
}

int32_t CapturedLocaleId() {
    return CapturedLocale();
}

TUiLanguage CurrentUiLanguage() {
    for (const auto& argument : CommandLineArguments()) {
        if (auto language = LanguageSwitch(argument))
            return *language;
    }
    return CapturedLocale() == SwedishSweden ? ulSwedish : ulEnglish;
}

std::u16string PickLanguageText(TUiLanguage language, std::u16string_view swedish,
                                std::u16string_view english) {
    return std::u16string(language == ulSwedish ? swedish : english);
}

// ---- About box and programs ----------------------------------------------------------------

void ShowAboutBox(TForm* owner, std::u16string_view message, std::u16string_view caption) {
    const std::u16string shownCaption = caption.empty()
                                            ? PickLanguageText(CurrentUiLanguage(), u"Om...", u"About...")
                                            : std::u16string(caption);
    ShowInformationBox(owner, message, shownCaption);
}

void RunProgram(std::u16string_view path) {
    StartDetachedProcess(path);
}

// ---- Numbers --------------------------------------------------------------------------------

namespace {

std::optional<char16_t>& ThousandSeparatorOverride() {
    static std::optional<char16_t> separator;
    return separator;
}

} // namespace

char16_t ThousandSeparator() {
    if (ThousandSeparatorOverride())
        return *ThousandSeparatorOverride();
    return LocaleThousandSeparator();
}

void SetThousandSeparator(std::optional<char16_t> separator) {
    ThousandSeparatorOverride() = separator;
}

std::u16string FormatCount(int64_t value) {
    if (value == 0)
        return u"0";
    // The magnitude of the most negative value does not fit in int64_t.
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    const char16_t separator = ThousandSeparator();
    std::u16string reversed;
    for (int digits = 0; magnitude > 0; ++digits, magnitude /= 10) {
        if (digits > 0 && digits % 3 == 0)
            reversed += separator;
        reversed += static_cast<char16_t>(u'0' + magnitude % 10);
    }
    return std::u16string(reversed.rbegin(), reversed.rend());
}

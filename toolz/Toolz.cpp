#include "toolz/Toolz.h"

#include <cstdlib>
#include <map>
#include <optional>

#include "base/Text.h"
#include "shell/Dialogs.h"
#include "shell/FilesAndLocale.h"
#include "shell/Launch.h"

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

// Locale identifiers of the usual "language_TERRITORY" names; a bare language stands for its
// main territory.
const std::map<std::string, int32_t>& KnownLocales() {
    static const std::map<std::string, int32_t> locales = {
        {"sv_SE", SwedishSweden},
        {"sv", SwedishSweden},
        {"sv_FI", 2077},
        {"en_US", EnglishUnitedStates},
        {"en", EnglishUnitedStates},
        {"en_GB", 2057},
        {"en_AU", 3081},
        {"en_CA", 4105},
        {"en_IE", 6153},
        {"en_NZ", 5129},
        {"da_DK", 1030},
        {"da", 1030},
        {"de_DE", 1031},
        {"de", 1031},
        {"de_AT", 3079},
        {"de_CH", 2055},
        {"es_ES", 3082},
        {"es", 3082},
        {"fi_FI", 1035},
        {"fi", 1035},
        {"fr_FR", 1036},
        {"fr", 1036},
        {"is_IS", 1039},
        {"it_IT", 1040},
        {"it", 1040},
        {"nb_NO", 1044},
        {"nb", 1044},
        {"nn_NO", 2068},
        {"nl_NL", 1043},
        {"nl", 1043},
        {"pl_PL", 1045},
        {"pt_BR", 1046},
        {"pt_PT", 2070},
        {"ru_RU", 1049},
        {"et_EE", 1061},
        {"ja_JP", 1041},
        {"zh_CN", 2052},
    };
    return locales;
}

// The first of LC_ALL, LC_MESSAGES and LANG that is set and not empty.
std::string LocaleNameFromEnvironment() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return value;
    }
    return {};
}

// "sv_SE.UTF-8@euro" -> "sv_SE".
std::string LanguageAndTerritory(const std::string& localeName) {
    return localeName.substr(0, localeName.find_first_of(".@"));
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
    const auto& known = KnownLocales();
    const auto found = known.find(LanguageAndTerritory(LocaleNameFromEnvironment()));
    CapturedLocale() = found != known.end() ? found->second : EnglishUnitedStates;
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

// The thread locale on POSIX systems: the locale the environment names (LC_ALL, then
// LC_MESSAGES, then LANG) as its identifier.
#include "toolz/ThreadLocale.h"

#include <cstdlib>
#include <map>
#include <string>

namespace {

constexpr int32_t EnglishUnitedStates = 1033;
constexpr int32_t SwedishSweden = 1053;

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

} // namespace

int32_t ThreadLocaleId() {
    const auto& known = KnownLocales();
    const auto found = known.find(LanguageAndTerritory(LocaleNameFromEnvironment()));
    return found != known.end() ? found->second : EnglishUnitedStates;
}

// The language rule and the count format.

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "toolz/Toolz.h"

namespace {

// Sets the three locale variables for one test and puts the old values back afterwards.
class LocaleEnvironmentTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kVariables) {
            const char* value = std::getenv(name);
            saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
            unsetenv(name);
        }
    }
    void TearDown() override {
        for (size_t i = 0; i < saved_.size(); ++i) {
            if (saved_[i])
                setenv(kVariables[i], saved_[i]->c_str(), 1);
            else
                unsetenv(kVariables[i]);
        }
        CaptureThreadLocale();
        SetCommandLineArguments({});
    }

    static int32_t LocaleIdFor(const char* variable, const char* value) {
        setenv(variable, value, 1);
        CaptureThreadLocale();
        unsetenv(variable);
        return CapturedLocaleId();
    }

    static constexpr const char* kVariables[] = {"LC_ALL", "LC_MESSAGES", "LANG"};

private:
    std::vector<std::optional<std::string>> saved_;
};

} // namespace

TEST_F(LocaleEnvironmentTest, LocaleNamesGiveTheirIdentifiers) {
    EXPECT_EQ(LocaleIdFor("LANG", "sv_SE.UTF-8"), 1053);
    EXPECT_EQ(LocaleIdFor("LANG", "sv_FI.UTF-8"), 2077);
    EXPECT_EQ(LocaleIdFor("LANG", "de_DE@euro"), 1031);
    EXPECT_EQ(LocaleIdFor("LANG", "C"), 1033);
    EXPECT_EQ(LocaleIdFor("LANG", "POSIX"), 1033);
    EXPECT_EQ(LocaleIdFor("LANG", "xx_YY"), 1033);
    CaptureThreadLocale();
    EXPECT_EQ(CapturedLocaleId(), 1033) << "nothing set";
}

TEST_F(LocaleEnvironmentTest, LcAllWinsOverLcMessagesWhichWinsOverLang) {
    setenv("LANG", "en_GB.UTF-8", 1);
    setenv("LC_MESSAGES", "sv_SE.UTF-8", 1);
    CaptureThreadLocale();
    EXPECT_EQ(CapturedLocaleId(), 1053);
    setenv("LC_ALL", "sv_FI.UTF-8", 1);
    CaptureThreadLocale();
    EXPECT_EQ(CapturedLocaleId(), 2077);
}

TEST_F(LocaleEnvironmentTest, OnlySwedishAsUsedInSwedenIsSwedishWithoutSwitches) {
    setenv("LANG", "sv_SE.UTF-8", 1);
    CaptureThreadLocale();
    EXPECT_EQ(CurrentUiLanguage(), ulSwedish);
    setenv("LANG", "en_US.UTF-8", 1);
    CaptureThreadLocale();
    EXPECT_EQ(CapturedLocaleId(), 1033);
    EXPECT_EQ(CurrentUiLanguage(), ulEnglish);
    setenv("LANG", "sv_FI.UTF-8", 1);
    CaptureThreadLocale();
    EXPECT_EQ(CurrentUiLanguage(), ulEnglish);
}

TEST_F(LocaleEnvironmentTest, FirstWholeSwitchWinsWhateverTheCase) {
    setenv("LANG", "sv_SE.UTF-8", 1);
    CaptureThreadLocale();
    SetCommandLineArguments({u"/english"});
    EXPECT_EQ(CurrentUiLanguage(), ulEnglish);
    SetCommandLineArguments({u"/ENGLISH", u"/SWEDISH"});
    EXPECT_EQ(CurrentUiLanguage(), ulEnglish);
    SetCommandLineArguments({u"other", u"/Swedish", u"/ENGLISH"});
    EXPECT_EQ(CurrentUiLanguage(), ulSwedish);
    setenv("LANG", "C", 1);
    CaptureThreadLocale();
    SetCommandLineArguments({u"/SWEDISHX", u"/SWED", u"SWEDISH", u"-SWEDISH"});
    EXPECT_EQ(CurrentUiLanguage(), ulEnglish);
}

TEST(PickLanguageTextTest, PicksByLanguage) {
    EXPECT_EQ(PickLanguageText(ulSwedish, u"Om", u"About"), u"Om");
    EXPECT_EQ(PickLanguageText(ulEnglish, u"Om", u"About"), u"About");
}

TEST(FormatCountTest, GroupsByThreeWithoutSign) {
    SetThousandSeparator(u',');
    EXPECT_EQ(FormatCount(0), u"0");
    EXPECT_EQ(FormatCount(2), u"2");
    EXPECT_EQ(FormatCount(999), u"999");
    EXPECT_EQ(FormatCount(1000), u"1,000");
    EXPECT_EQ(FormatCount(1234567), u"1,234,567");
    EXPECT_EQ(FormatCount(-5), u"5");
    EXPECT_EQ(FormatCount(-2147483648LL), u"2,147,483,648");
    EXPECT_EQ(FormatCount(INT64_MIN), u"9,223,372,036,854,775,808");
    SetThousandSeparator(u'\u00A0');
    EXPECT_EQ(FormatCount(1234), u"1\u00A0234");
    SetThousandSeparator(std::nullopt);
}

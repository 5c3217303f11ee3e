#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Text.h"
#include "tests/settings/SettingsTestSupport.h"
#include "toolz/INIToolz.h"

namespace fs = std::filesystem;

TEST(SettingsLocation, ExtensionOfTheLastComponentBecomesIni) {
    EXPECT_EQ(IniPathBesideExecutable(u"/opt/tools/Watch.exe"), u"/opt/tools/Watch.INI");
    EXPECT_EQ(IniPathBesideExecutable(u"/opt/a.b.exe"), u"/opt/a.b.INI");
    EXPECT_EQ(IniPathBesideExecutable(u"/opt/my.tools/Watch"), u"/opt/my.tools/Watch.INI");
    EXPECT_EQ(IniPathBesideExecutable(u"/usr/bin/brevgluggen"), u"/usr/bin/brevgluggen.INI");
    EXPECT_EQ(IniPathBesideExecutable(u"/opt/Watch."), u"/opt/Watch.INI");
}

TEST(SettingsLocation, RunningProgramUsesTheFileBesideItsExecutable) {
    const fs::path executable = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(SettingsFilePath(), Utf8ToText((executable.parent_path() / "test_settings.INI").string()));
}

class SettingsFallback : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(installed);
        fs::create_directory(config);
        fs::create_directory(home);
        fs::permissions(config, fs::perms::all);
        fs::permissions(home, fs::perms::all);
        chmod(installed.c_str(), 0555);
    }

    std::u16string Executable() const { return Utf8ToText((installed / "brevgluggen").string()); }

    TTempFolder folder;
    fs::path installed = folder.Path() / "bin";
    fs::path config = folder.Path() / "config";
    fs::path home = folder.Path() / "home";
};

TEST_F(SettingsFallback, UnwritableProgramFolderUsesTheConfigurationFolder) {
    const std::string found = RunUnprivileged([&] {
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        const std::u16string path = SettingsFilePathFor(Executable(), slBuildFolder);
        WriteIniString(u"Main", u"Port", u"995", path);
        return TextToUtf8(path) + "|" + TextToUtf8(ReadIniString(u"Main", u"Port", u"110", path));
    });
    const fs::path expected = config / "brevgluggen" / "brevgluggen.INI";
    EXPECT_EQ(found, expected.string() + "|995");
    EXPECT_TRUE(fs::exists(expected)) << "the first store creates the folder";
}

TEST_F(SettingsFallback, WithoutXdgConfigHomeTheHomeConfigFolderIsUsed) {
    for (TSettingsLayout layout : {slBuildFolder, slInstalled}) {
        const std::string found = RunUnprivileged([&] {
            setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
            setenv("HOME", home.c_str(), 1);
            return TextToUtf8(SettingsFilePathFor(Executable(), layout));
        });
        EXPECT_EQ(found, (home / ".config" / "brevgluggen" / "brevgluggen.INI").string()) << int(layout);
    }
}

// Where each layout keeps the file, by whether the program's folder can be written and whether
// a file already lies beside the executable (a portable copy).
TEST_F(SettingsFallback, EachLayoutPicksItsFolderAndAFileBesideTheProgramAlwaysWins) {
    struct Case {
        TSettingsLayout layout;
        bool folderWritable;
        bool fileBeside;
        bool expectBeside;
    };
    const Case cases[] = {
        {slBuildFolder, true, false, true}, {slBuildFolder, false, false, false},
        {slBuildFolder, false, true, true}, {slInstalled, true, false, false},
        {slInstalled, false, false, false}, {slInstalled, true, true, true},
    };
    const fs::path beside = installed / "brevgluggen.INI";
    for (const Case& c : cases) {
        chmod(installed.c_str(), 0755);
        fs::remove(beside);
        if (c.fileBeside)
            WriteBytes(Utf8ToText(beside.string()), "[Main]\n");
        chmod(installed.c_str(), c.folderWritable ? 0777 : 0555);
        const std::string found = RunUnprivileged([&] {
            setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            return TextToUtf8(SettingsFilePathFor(Executable(), c.layout));
        });
        const fs::path expected = c.expectBeside ? beside : config / "brevgluggen" / "brevgluggen.INI";
        EXPECT_EQ(found, expected.string())
            << "layout " << int(c.layout) << ", writable " << c.folderWritable << ", beside " << c.fileBeside;
    }
}

// The settings file on Windows: files the platform's own private-profile functions write (ANSI
// code page, or UTF-16 with a byte order mark) load and survive a store; the file's place beside
// the executable or under %APPDATA%; the locked store.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "base/Integers.h"
#include "base/Text.h"
#include "tests/settings/PlatformProfile.h"
#include "tests/support/TemporaryFolder.h"
#include "toolz/INIToolz.h"

namespace fs = std::filesystem;

namespace {

// "C:\Ljud\Ålänning.wav": in the ANSI code page here (Windows-1252) "Å" is C5, "ä" E4.
const std::u16string SoundPath = u"C:\\Ljud\\\u00C5l\u00E4nning.wav";
// No place for it in Windows-1252.
const std::u16string PolishName = u"\u0141\u00F3d\u017A";

class WindowsSettingsFile : public ::testing::Test {
protected:
    std::u16string File(const std::string& name = "brevgluggen.INI") const {
        return Utf8ToText((folder_.Path() / name).string());
    }
    std::string Bytes(const std::u16string& file) const {
        std::ifstream in(fs::path(TextToUtf8(file)), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void WriteBytes(const std::u16string& file, const std::string& bytes) const {
        std::ofstream(fs::path(TextToUtf8(file)), std::ios::binary) << bytes;
    }

    TemporaryFolder folder_{"bg-win-settings"};
};

TEST_F(WindowsSettingsFile, AnsiFileOfThePlatformLoadsAndSurvivesAStore) {
    const std::u16string file = File();
    ASSERT_TRUE(PlatformWriteProfileString(u"Main", u"PathToSound", SoundPath, file));
    ASSERT_TRUE(PlatformWriteProfileString(u"Main", u"Port", u"110", file));
    ASSERT_NE(Bytes(file).find("\\\xC5l\xE4nning.wav"), std::string::npos) << "not written in Windows-1252";

    EXPECT_EQ(ReadIniString(u"Main", u"PathToSound", u"", file), SoundPath);
    WriteIniString(u"Main", u"Port", u"995", file);
    WriteIniString(u"Main", u"PathToClient", u"C:\\Mail\\m\u00E5l.exe", file);

    // Still in the code page: the platform reads back every value, the untouched line byte for byte.
    EXPECT_NE(Bytes(file).find("PathToSound=C:\\Ljud\\\xC5l\xE4nning.wav\r\n"), std::string::npos);
    EXPECT_EQ(PlatformReadProfileString(u"Main", u"PathToSound", file), SoundPath);
    EXPECT_EQ(PlatformReadProfileString(u"Main", u"Port", file), u"995");
    EXPECT_EQ(PlatformReadProfileString(u"Main", u"PathToClient", file), u"C:\\Mail\\m\u00E5l.exe");
}

TEST_F(WindowsSettingsFile, EncodingOfEachKindOfFileAfterAStore) {
    struct Case {
        const char* name;
        std::string before;        // the file's bytes, empty for no file
        std::u16string value;      // stored as PathToSound
        std::string startsWith;    // the file's first bytes afterwards
        bool platformReads = true; // the platform's functions know no UTF-8 without a mark
    };
    const Case cases[] = {
        {"new file, code page", "", SoundPath, "[Main]\r\nPathToSound=C:\\Ljud\\\xC5"},
        {"new file, beyond the code page", "", PolishName, "\xFF\xFE[\0M\0"},
        {"code page file, beyond it", "[Main]\r\nPort=110\r\n", PolishName, "\xFF\xFE[\0M\0"},
        {"UTF-8 file", "[Main]\nUser=\xC3\xA5\n", PolishName, "[Main]\nUser=\xC3\xA5\nPathToSound=\xC5\x81",
         false},
        {"UTF-16 file", std::string("\xFF\xFE[\0M\0a\0i\0n\0]\0\r\0\n\0", 18), SoundPath, "\xFF\xFE[\0M\0"},
    };
    for (const Case& c : cases) {
        const std::u16string file = File(std::string(c.name) + ".INI");
        if (!c.before.empty())
            WriteBytes(file, c.before);
        WriteIniString(u"Main", u"PathToSound", c.value, file);
        EXPECT_EQ(Bytes(file).substr(0, c.startsWith.size()), c.startsWith) << c.name;
        EXPECT_EQ(ReadIniString(u"Main", u"PathToSound", u"", file), c.value) << c.name;
        if (c.platformReads) {
            EXPECT_EQ(PlatformReadProfileString(u"Main", u"PathToSound", file), c.value) << c.name;
        }
    }
}

TEST_F(WindowsSettingsFile, ReadOnlyFileIsLeftAlone) {
    const std::u16string file = File();
    WriteIniString(u"Main", u"Port", u"110", file);
    fs::permissions(fs::path(TextToUtf8(file)),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    WriteIniString(u"Main", u"Port", u"995", file);
    EXPECT_EQ(ReadIniString(u"Main", u"Port", u"", file), u"110");
    fs::permissions(fs::path(TextToUtf8(file)), fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(WindowsSettingsFile, WritersTakingTurnsLoseNoValue) {
    const std::u16string file = File();
    auto writer = [&](const std::u16string& prefix) {
        for (int i = 0; i < 25; ++i)
            WriteIniString(u"Main", prefix + IntToText(i), u"v", file);
    };
    std::thread first(writer, u"a"), second(writer, u"b");
    first.join();
    second.join();
    for (int i = 0; i < 25; ++i) {
        EXPECT_EQ(ReadIniString(u"Main", u"a" + IntToText(i), u"lost", file), u"v");
        EXPECT_EQ(ReadIniString(u"Main", u"b" + IntToText(i), u"lost", file), u"v");
    }
    for (const auto& entry : fs::directory_iterator(folder_.Path()))
        EXPECT_EQ(entry.path().extension(), ".INI") << "left behind: " << entry.path();
}

TEST_F(WindowsSettingsFile, FileBesideTheExecutableOrInTheUsersFolder) {
    EXPECT_EQ(IniPathBesideExecutable(u"C:\\Tools\\Watch.exe"), u"C:\\Tools\\Watch.INI");
    EXPECT_EQ(IniPathBesideExecutable(u"C:\\my.tools\\Watch"), u"C:\\my.tools\\Watch.INI");
    EXPECT_EQ(IniPathBesideExecutable(u"C:\\Tools\\a.b.exe"), u"C:\\Tools\\a.b.INI");
    EXPECT_EQ(IniPathBesideExecutable(u"D:Watch"), u"D:Watch.INI");

    const std::u16string writable = File("brevgluggen.exe");
    EXPECT_EQ(SettingsFilePathFor(writable, slBuildFolder), File("brevgluggen.INI"));
    // A folder this program cannot write (here: one that does not exist) sends it to %APPDATA%.
    const std::u16string appData = Utf8ToText(std::getenv("APPDATA"));
    EXPECT_EQ(SettingsFilePathFor(File("missing\\brevgluggen.exe"), slBuildFolder),
              appData + u"\\brevgluggen\\brevgluggen.INI");
    // The running executable's own file lies beside it.
    EXPECT_EQ(fs::path(TextToUtf8(SettingsFilePath())).filename(), "test_settings.INI");
}

// A link whose target does not exist yet, as on other systems: the store creates the target.
TEST_F(WindowsSettingsFile, DanglingLinkIsKeptAndItsTargetCreated) {
    const std::u16string link = File();
    if (!CreateSymbolicLinkW(reinterpret_cast<const wchar_t*>(link.c_str()), L"real.INI",
                             SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
        GTEST_SKIP() << "no symbolic links here (error " << GetLastError() << ")";
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(link.c_str()));
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "a symbolic link does not show as one here";

    WriteIniString(u"Main", u"Port", u"995", link);

    EXPECT_NE(GetFileAttributesW(reinterpret_cast<const wchar_t*>(link.c_str())) &
                  FILE_ATTRIBUTE_REPARSE_POINT,
              0u);
    EXPECT_EQ(Bytes(File("real.INI")), "[Main]\r\nPort=995\r\n");
    EXPECT_EQ(ReadIniString(u"Main", u"Port", u"110", link), u"995");
}

} // namespace

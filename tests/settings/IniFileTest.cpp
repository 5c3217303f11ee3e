#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/Exceptions.h"
#include "base/Text.h"
#include "tests/settings/SettingsTestSupport.h"
#include "toolz/INIToolz.h"
#include "toolz/Toolz.h"

namespace {

class IniFile : public ::testing::Test {
protected:
    TTempFolder folder;
    std::u16string file = folder.File("Brevgluggen.INI");

    std::u16string Read(std::u16string_view key, std::u16string_view fallback = u"fallback") {
        return ReadIniString(u"Main", key, fallback, file);
    }
};

} // namespace

TEST_F(IniFile, MissingFileSectionOrKeyGivesTheFallback) {
    EXPECT_EQ(Read(u"Port", u"110"), u"110");
    EXPECT_FALSE(ReadIniBool(u"Main", u"WWW", false, file));
    EXPECT_TRUE(ReadIniBool(u"Main", u"WWW", true, file));
    EXPECT_FALSE(Exists(file)) << "reading must not create the file";

    WriteBytes(file, "[Other]\nPort=995\n");
    EXPECT_EQ(Read(u"Port", u"110"), u"110");
    WriteBytes(file, "[Main]\nServer=x\n");
    EXPECT_EQ(Read(u"Port", u"110"), u"110");
}

TEST_F(IniFile, FirstStoreWritesSectionMainAndTheSevenKeysInTableOrder) {
    WriteIniString(u"Main", u"POP3Server", u"pop.example.org", file);
    WriteIniString(u"Main", u"Port", u"110", file);
    WriteIniString(u"Main", u"UserName", ScrambleCredential(u""), file);
    WriteIniString(u"Main", u"Password", ScrambleCredential(u"abc"), file);
    WriteIniString(u"Main", u"PathToClient", u"", file);
    WriteIniString(u"Main", u"PathToSound", u"", file);
    WriteIniBool(u"Main", u"WWW", false, file);

    EXPECT_EQ(ReadBytes(file), "[Main]\n"
                               "POP3Server=pop.example.org\n"
                               "Port=110\n"
                               "UserName=\n"
                               "Password=XLXVXJ\n"
                               "PathToClient=\n"
                               "PathToSound=\n"
                               "WWW=0\n");
    struct stat info {};
    ASSERT_EQ(stat(TextToUtf8(file).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the file holds the scrambled password";
}

TEST_F(IniFile, StoreKeepsEverythingOutsideTheChangedLines) {
    const std::string handEdited = "; written by hand\n"
                                   "[Other]\n"
                                   "Port=995\n"
                                   "\n"
                                   "[main]\n"
                                   "# the server\n"
                                   "  pop3server = old.example.org  \n"
                                   "Extra=kept\n"
                                   "\n"
                                   "[Tail]\n"
                                   "WWW=1\n";
    WriteBytes(file, handEdited);
    chmod(TextToUtf8(file).c_str(), 0640);

    StoreSevenSettings(file, 2);

    EXPECT_EQ(ReadBytes(file), "; written by hand\n"
                               "[Other]\n"
                               "Port=995\n"
                               "\n"
                               "[main]\n"
                               "# the server\n"
                               "pop3server=pop2.example.org\n"
                               "Extra=kept\n"
                               "Port=2\n"
                               "UserName=" +
                                   TextToUtf8(ScrambleCredential(u"user2")) +
                                   "\n"
                                   "Password=" +
                                   TextToUtf8(ScrambleCredential(u"secret2")) +
                                   "\n"
                                   "PathToClient=/usr/bin/mail2\n"
                                   "PathToSound=/sounds/2.wav\n"
                                   "WWW=0\n"
                                   "\n"
                                   "[Tail]\n"
                                   "WWW=1\n");
    struct stat info {};
    ASSERT_EQ(stat(TextToUtf8(file).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u) << "the user's own permissions stay";
}

TEST_F(IniFile, CrLfFileWithoutFinalLineEndGetsCrLfLines) {
    WriteBytes(file, "\xEF\xBB\xBF[Main]\r\nPort=110");
    WriteIniString(u"Main", u"UserName", u"u", file);
    WriteIniString(u"Second", u"Key", u"v", file);
    EXPECT_EQ(ReadBytes(file), "\xEF\xBB\xBF[Main]\r\nPort=110\r\nUserName=u\r\n\r\n[Second]\r\nKey=v\r\n");
    EXPECT_EQ(Read(u"Port"), u"110");
}

TEST_F(IniFile, NamesIgnoreLetterCaseAndBlanksAroundValuesAreDropped) {
    WriteBytes(file, "[MAIN]\n  port =  995 \t\n;Port=1\n");
    EXPECT_EQ(Read(u"Port"), u"995");
    EXPECT_EQ(ReadIniString(u"main", u"PORT", u"", file), u"995");
    WriteIniString(u"Main", u"PORT", u"110", file);
    EXPECT_EQ(ReadBytes(file), "[MAIN]\nport=110\n;Port=1\n");
}

TEST_F(IniFile, EmptyValueIsReadAsEmptyNotAsFallback) {
    WriteBytes(file, "[Main]\nUserName=\n");
    EXPECT_EQ(Read(u"UserName"), u"");
    EXPECT_EQ(UnscrambleCredential(Read(u"UserName")), u"");
}

TEST_F(IniFile, ValuesAreStoredAndReturnedUnchangedAsUtf8) {
    const std::u16string path = u"C:\\Program Files\\Post \u00E5\u00E4\u00F6 \u20AC \U0001F4EC.exe";
    WriteIniString(u"Main", u"PathToClient", path, file);
    WriteIniString(u"Main", u"Port", u"not a port", file);
    WriteIniString(u"Main", u"Quoted", u"\"/usr/bin/mail\" -x \"a b\"", file);
    EXPECT_EQ(Read(u"PathToClient"), path);
    EXPECT_EQ(Read(u"Port"), u"not a port");
    EXPECT_EQ(Read(u"Quoted"), u"\"/usr/bin/mail\" -x \"a b\"");
    EXPECT_NE(ReadBytes(file).find(TextToUtf8(path)), std::string::npos);
}

TEST_F(IniFile, LineBreaksInAValueCannotInjectKeys) {
    WriteIniString(u"Main", u"PathToClient", u"/bin/mail\nWWW=1\r\n[Evil]", file);
    EXPECT_EQ(Read(u"PathToClient"), u"/bin/mail WWW=1  [Evil]");
    EXPECT_EQ(Read(u"WWW", u"none"), u"none");
}

TEST_F(IniFile, NamesThatCannotBeStoredAreRefused) {
    WriteIniString(u"Main", u"Key=Value", u"x", file);
    WriteIniString(u"Ma]in", u"Key", u"x", file);
    WriteIniString(u"Main", u"", u"x", file);
    WriteIniString(u"Main", u";Key", u"x", file);
    EXPECT_FALSE(Exists(file));
    EXPECT_THROW(WritePrivateProfileString(u"Main", u"A\nB", u"x", file), Exception);
}

TEST_F(IniFile, LongValueIsReadBackCutTo2047Characters) {
    const std::u16string value(3000, u'v');
    WriteIniString(u"Main", u"PathToSound", value, file);
    EXPECT_EQ(Read(u"PathToSound"), value.substr(0, 2047));
    // A cut through a character written as two units drops its first half.
    const std::u16string pairs = std::u16string(2046, u'v') + u"\U0001F4EC\U0001F4EC";
    WriteIniString(u"Main", u"PathToSound", pairs, file);
    EXPECT_EQ(Read(u"PathToSound"), pairs.substr(0, 2046));
}

TEST_F(IniFile, FlagsWriteOneAndZero) {
    WriteIniBool(u"Main", u"WWW", true, file);
    EXPECT_EQ(Read(u"WWW"), u"1");
    EXPECT_TRUE(ReadIniBool(u"Main", u"WWW", false, file));
    WriteIniBool(u"Main", u"WWW", false, file);
    EXPECT_EQ(Read(u"WWW"), u"0");
    EXPECT_FALSE(ReadIniBool(u"Main", u"WWW", true, file));
}

TEST_F(IniFile, StoredFlagTextsLoadByTheirNumber) {
    for (const char* ticked : {"1", "-1", "2", "$1", "0x10", " 7", "0X1"}) {
        WriteBytes(file, std::string("[Main]\nWWW=") + ticked + "\n");
        EXPECT_TRUE(ReadIniBool(u"Main", u"WWW", false, file)) << ticked;
    }
    for (const char* unticked : {"0", "$0", "0x0", "yes", "true", "1a", "", "0x"}) {
        WriteBytes(file, std::string("[Main]\nWWW=") + unticked + "\n");
        EXPECT_FALSE(ReadIniBool(u"Main", u"WWW", false, file)) << unticked;
    }
    // Not a number: the fallback, whichever it is.
    WriteBytes(file, "[Main]\nWWW=yes\n");
    EXPECT_TRUE(ReadIniBool(u"Main", u"WWW", true, file));
}

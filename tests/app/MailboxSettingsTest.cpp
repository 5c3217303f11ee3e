// The settings file's mailboxes: [Main] and the numbered sections after it, read and written as
// one piece.

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

#include "app/MailboxSettings.h"
#include "tests/support/TemporaryFolder.h"

namespace {

class MailboxSettingsFile : public ::testing::Test {
protected:
    std::string Bytes() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void SetBytes(const std::string& bytes) const { std::ofstream(path_, std::ios::binary) << bytes; }
    SettingsFile Read() const { return ReadSettingsFile(file_); }
    void Write(const SettingsFile& settings) const { WriteSettingsFile(settings, file_); }

    TemporaryFolder folder_{"bg-mailboxes"};
    std::filesystem::path path_ = folder_.Path() / "brevgluggen.INI";
    std::u16string file_ = path_.u16string();
};

MailboxSettings Mailbox(std::u16string name, std::u16string server, std::u16string user) {
    MailboxSettings mailbox;
    mailbox.name = std::move(name);
    mailbox.server = std::move(server);
    mailbox.userName = std::move(user);
    mailbox.password = u"l\u00F6senord";
    return mailbox;
}

// Three mailboxes that use every key with a value other than its default somewhere.
SettingsFile ThreeMailboxes() {
    SettingsFile settings;
    settings.shared = {u"/usr/bin/thunderbird", u"/home/\u00E5sa/ding.wav", true};
    MailboxSettings work = Mailbox(u"", u"pop.example.org", u"asa");
    work.port = u"110";
    MailboxSettings home = Mailbox(u"Hemma \u2013 \u00C5sa \u2709", u"imap.example.net", u"\u00E5sa");
    home.port = u"993";
    home.protocol = mpIMAP;
    home.useTLS = utUseImplicitTLS;
    home.notify = false;
    MailboxSettings cloud = Mailbox(u"Moln", u"outlook.office365.com", u"asa@example.com");
    cloud.port = u"110";
    cloud.password.clear();
    cloud.useTLS = utUseExplicitTLS;
    cloud.signIn = siOAuth;
    cloud.oauthProvider = opCustom;
    cloud.oauthClientId = u"client-\u00E9";
    cloud.oauthClientSecret = u"s3cret";
    cloud.oauthAuthorizeUrl = u"https://login.example.com/authorize";
    cloud.oauthTokenUrl = u"https://login.example.com/token";
    cloud.oauthScope = u"mail offline_access";
    settings.mailboxes = {work, home, cloud};
    return settings;
}

// What a program that knows one mailbox writes into a new file for these seven values.
constexpr const char* OneMailboxFile = "[Main]\n"
                                       "POP3Server=pop.example.org\n"
                                       "Port=110\n"
                                       "UserName=XLYJXL\n"
                                       "Password=YJXNXJYVXNYS\n"
                                       "PathToClient=/usr/bin/mail\n"
                                       "PathToSound=/snd/ding.wav\n"
                                       "WWW=0\n";

SettingsFile OneMailbox() {
    SettingsFile settings;
    settings.shared = {u"/usr/bin/mail", u"/snd/ding.wav", false};
    settings.mailboxes = {Mailbox(u"", u"pop.example.org", u"asa")};
    settings.mailboxes[0].password = u"secret";
    return settings;
}

} // namespace

TEST_F(MailboxSettingsFile, ThreeMailboxesComeBackAsWrittenInConsecutiveSections) {
    const SettingsFile written = ThreeMailboxes();
    Write(written);

    EXPECT_EQ(Read(), written);
    const std::string bytes = Bytes();
    EXPECT_NE(bytes.find("[Mailbox2]\nName=Hemma \xE2\x80\x93 \xC3\x85sa \xE2\x9C\x89\nPOP3Server=imap"),
              std::string::npos)
        << bytes;
    EXPECT_NE(bytes.find("\n\n[Mailbox3]\nName=Moln\n"), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find("l\xC3\xB6senord"), std::string::npos) << "the password is stored scrambled";
    EXPECT_EQ(bytes.find("PathToSound"), bytes.rfind("PathToSound")) << "shared keys live in [Main] only";
}

TEST_F(MailboxSettingsFile, OneMailboxIsWrittenAndKeptByteForByteAsBefore) {
    Write(OneMailbox());
    EXPECT_EQ(Bytes(), OneMailboxFile);
    EXPECT_EQ(Read(), OneMailbox());

    // A file written by hand or by another program: every line, key order, case and value it
    // has stays, also a UseTLS of its own and an empty Name.
    const std::string handWritten = "; mine\r\n[main]\r\nport=995\r\nName=\r\nServer=x\r\n"
                                    "POP3Server=pop.example.org\r\nUseTLS=3\r\nUserName=XLYJXL\r\n"
                                    "Password=\r\nPathToClient=\r\nPathToSound=\r\nWWW=1\r\nNotify=1\r\n";
    SetBytes(handWritten);
    const SettingsFile read = Read();
    EXPECT_EQ(read.mailboxes[0].useTLS, utUseExplicitTLS);
    Write(read);
    EXPECT_EQ(Bytes(), handWritten);
}

TEST_F(MailboxSettingsFile, RemovedMailboxesMoveUpAndTheirSectionsGo) {
    Write(ThreeMailboxes());
    SettingsFile settings = ThreeMailboxes();
    settings.mailboxes.erase(settings.mailboxes.begin() + 1);
    Write(settings);

    EXPECT_EQ(Read(), settings);
    EXPECT_EQ(Bytes().find("[Mailbox3]"), std::string::npos);

    // Back to one mailbox: the file is the one-mailbox file again.
    SetBytes(OneMailboxFile);
    SettingsFile two = OneMailbox();
    two.mailboxes.push_back(Mailbox(u"Andra", u"pop2.example.org", u"b"));
    Write(two);
    Write(OneMailbox());
    EXPECT_EQ(Bytes(), OneMailboxFile);
}

TEST_F(MailboxSettingsFile, OddFilesReadWhatTheyCanAndWritingKeepsWhatIsNotAMailbox) {
    struct Case {
        const char* name;
        std::string bytes;
        size_t mailboxes;
        std::string afterWrite; // a part the file still holds after writing what was read
    };
    const Case cases[] = {
        {"no file", "", 1, "[Main]\nPOP3Server=\nPort=110\n"},
        {"a gap: the mailbox after it is read, and written without the gap",
         "[Main]\nPort=1\n[Mailbox3]\nPort=3\n", 2, "[Mailbox2]\nPOP3Server=\nPort=3\n"},
        {"numbers not plainly written are no mailbox",
         "[Main]\n[mailbox2]\n[Mailbox02]\n[Mailbox1]\n[Mailbox0]\n[Mailbox-3]\n[MailboxX]\n", 2,
         "[Mailbox02]\n[Mailbox1]\n[Mailbox0]\n[Mailbox-3]\n[MailboxX]\n"},
        {"only numbered sections", "[Mailbox2]\nPort=2\n", 2, "[Mailbox2]\nPort=2\n"},
        {"values no setting has", "[Main]\nUseTLS=9\nPort=995\nProtocol=7\nSignIn=x\nOAuthProvider=GOOGLE\n",
         1, "UseTLS=1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(path_);
        if (!c.bytes.empty())
            SetBytes(c.bytes);
        const SettingsFile read = Read();
        ASSERT_EQ(read.mailboxes.size(), c.mailboxes);
        Write(read);
        EXPECT_NE(Bytes().find(c.afterWrite), std::string::npos) << Bytes();
        EXPECT_EQ(Read(), read);
        if (c.bytes.empty()) {
            EXPECT_EQ(read.mailboxes[0], MailboxSettings{});
        }
    }
    const MailboxSettings odd = Read().mailboxes[0];
    EXPECT_EQ(odd.useTLS, utUseImplicitTLS);
    EXPECT_EQ(odd.protocol, mpPOP3);
    EXPECT_EQ(odd.signIn, siPassword);
    EXPECT_EQ(odd.oauthProvider, opGoogle);

    // Damaged UTF-16: read as an empty file, and never replaced.
    const std::string damaged = "\xFF\xFE[\0M\0\n";
    SetBytes(damaged);
    EXPECT_EQ(Read().mailboxes.size(), 1u);
    Write(ThreeMailboxes());
    EXPECT_EQ(Bytes(), damaged);
}

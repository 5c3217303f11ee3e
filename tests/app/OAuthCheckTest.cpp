// The check with OAuth sign-in against the real authorization server: Save without a token signs
// in through the browser (xdg-open, then the test browser), the check then signs in to Dovecot with
// the token; TLS is required before anything is sent; a token the mail server rejects is refreshed
// and tried once, then the user is asked to sign in again and no more token requests are made.

#include <thread>

#include "base/Integers.h"
#include "mail/BearerSasl.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/OAuthRig.h"
#include "tests/support/Pop3RealServers.h"

namespace {

// A mail server that refuses every bearer token it is given.
class RejectingPOP3 : public TIdPOP3 {
public:
    int connects = 0;
    void ConnectAndLogIn() override {
        ++connects;
        throw EBearerTokenRejected(u"Authentication failed.");
    }
};

} // namespace

class OAuthCheckTest : public MainWindowTest {
protected:
    void SetUp() override {
        if (!AuthorizationServer::Available() || !DovecotServer::Available())
            GTEST_SKIP() << "node, chromium or Dovecot missing";
        MainWindowTest::SetUp();
        // No desktop: xdg-open hands the address to BROWSER, the test browser; no Secret Service:
        // the token goes to the file beside the settings.
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"})
            unsetenv(name);
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
            setenv(name, (folder_.Path() / "empty").c_str(), 1);
        const auto script = folder_.Path() / "browser.sh";
        std::ofstream(script) << "#!/bin/sh\nBG_BROWSER_RESULT='" << browserResult_.string()
                              << "' exec /usr/bin/node '" << (OAuthRigFolder() / "browser.mjs").string()
                              << "' \"$1\"\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        setenv("BROWSER", script.c_str(), 1);
        server_ = std::make_unique<AuthorizationServer>(30);
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        std::filesystem::remove(TokenFile());
    }
    static std::filesystem::path TokenFile() {
        return std::filesystem::path(TextToUtf8(SettingsFilePath())).parent_path() / "brevgluggen.token";
    }

    // A resident window that signs in with OAuth at the test server, for a mailbox on port.
    void CreateOAuthWindow(uint16_t port) {
        CreateWindow();
        ReplacePop3Client(std::make_unique<TIdPOP3>());
        window->txtPOP3Server.SetText(u"127.0.0.1");
        window->txtPort.SetText(IntToText(port));
        window->txtUserName.SetText(u"u");
        window->txtPassword.SetText(u"");
        window->txtPathToClient.SetText(u"/usr/bin/true");
        window->txtPathToSound.SetText(SoundPath());
        window->cbTLS.SetChecked(true);
        window->cbOAuth.SetChecked(true);
        window->cmbOAuthProvider.SetItemIndex(opCustom);
        const OAuthClient client = server_->Client();
        window->txtOAuthClientId.SetText(Utf8ToText(client.ClientId));
        window->txtOAuthAuthorizeUrl.SetText(Utf8ToText(client.Provider.AuthorizeUrl));
        window->txtOAuthTokenUrl.SetText(Utf8ToText(client.Provider.TokenUrl));
        window->txtOAuthScope.SetText(u"pop3");
    }

    // Handles events until the work on the tokens (and the check that follows it) has reported.
    void Settle() {
        for (int i = 0; i < 2000 && window->TokenWorkRunning(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            Application->ProcessMessages();
        }
    }
    // A timer check with the settings as the boxes hold them, with the token work it starts.
    void CheckNow() {
        window->StoreSettings();
        window->TimerMain.Tick();
        Settle();
    }

    // Save, then the sign-in's poll until the browser has come back and the code is exchanged.
    void SaveAndSignIn() {
        window->btnSave.Click();
        Settle();
        for (int i = 0; i < 600 && window->SignInWaiting(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            window->TimerSignIn.Tick();
            Application->ProcessMessages();
        }
        Settle();
        ASSERT_EQ(window->SignInInProgress()->Current(), OAuthSignIn::State::SignedIn)
            << TextToUtf8(window->SignInInProgress()->Reason()) << " " << AwaitTestBrowser(browserResult_, 1);
    }

    TemporaryFolder folder_{"bg-oauth-app"};
    std::filesystem::path browserResult_ = folder_.Path() / "browser";
    std::unique_ptr<AuthorizationServer> server_;
};

TEST_F(OAuthCheckTest, SaveSignsInThroughTheBrowserAndTheCheckUsesTheToken) {
    DovecotServer dovecot(DovecotServer::Options{}, server_->IntrospectionUrl());
    dovecot.FillMailbox(3);
    CreateOAuthWindow(dovecot.Port()); // STLS required
    SaveAndSignIn();
    EXPECT_TRUE(window->btnSignOut.Enabled()) << "a token is kept: Sign out can act";
    EXPECT_EQ(Hint(), u"You have 3 new e-mail messages.");
    EXPECT_EQ(ReadIniString(u"Main", u"SignIn", u""), u"1");
    EXPECT_EQ(ReadIniString(u"Main", u"Password", u"none"), u"");
    // Access tokens that last 30 s: each check refreshes first (the one after the sign-in too).
    dovecot.AddMessage();
    CheckNow();
    EXPECT_EQ(Hint(), u"You have 4 new e-mail messages.");
    EXPECT_EQ(server_->Grants("authorization_code"), 1);
    EXPECT_EQ(server_->Grants("refresh_token"), 2);
    // Password sign-in chosen and saved: the token is gone everywhere.
    window->Show();
    window->cbOAuth.SetChecked(false);
    window->btnSave.Click();
    Settle();
    EXPECT_FALSE(std::filesystem::exists(TokenFile()));
}

TEST_F(OAuthCheckTest, TlsIsRequiredAndARejectedTokenIsRetriedOnceThenSignInAgain) {
    DovecotServer dovecot(DovecotServer::Options{}, server_->IntrospectionUrl());
    CreateOAuthWindow(dovecot.Port());
    SaveAndSignIn();
    auto client = std::make_unique<RejectingPOP3>();
    RejectingPOP3* rejecting = client.get();
    ReplacePop3Client(std::move(client));

    window->cbTLS.SetChecked(false);
    CheckNow();
    EXPECT_EQ(rejecting->connects, 0);
    EXPECT_EQ(Hint(), u"The mailbox could not be checked.\nCheck failed: OAuth sign-in requires TLS.");

    window->cbTLS.SetChecked(true);
    const int refreshesBefore = server_->Grants("refresh_token");
    CheckNow();
    EXPECT_EQ(rejecting->connects, 2);
    EXPECT_EQ(server_->Grants("refresh_token"),
              refreshesBefore + 2); // before the check, and after the rejection
    EXPECT_NE(Hint().find(u"Check failed: Sign in again"), std::u16string::npos) << TextToUtf8(Hint());
    Settle();
    EXPECT_NE(window->lblSignInState.Caption().find(u"Sign in again"), std::u16string::npos)
        << "the sign-in group's own tokens say so too: " << TextToUtf8(window->lblSignInState.Caption());
    CheckNow();
    CheckNow();
    EXPECT_EQ(rejecting->connects, 2);
    EXPECT_EQ(server_->Grants("refresh_token"), refreshesBefore + 2);

    // Another mailbox while a sign-in waits: the sign-in for the old one ends with its store.
    window->btnSignIn.Click();
    ASSERT_TRUE(window->SignInWaiting());
    window->txtUserName.SetText(u"someone else");
    window->Tokens();
    EXPECT_EQ(window->SignInInProgress(), nullptr);
    window->TimerSignIn.Tick();
}

// Without a browser the sign-in fails at once; a token stored for another scope is not sent, and
// the tip says why the user has to sign in again.
TEST_F(OAuthCheckTest, NoBrowserFailsAtOnceAndAnotherScopeMeansSignInAgain) {
    CreateOAuthWindow(995);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (folder_.Path() / "empty").c_str(), 1);
    window->btnSave.Click();
    Settle(); // the sign-in starts once the keyring has said that no token is kept
    setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(window->SignInInProgress());
    EXPECT_EQ(window->SignInInProgress()->Current(), OAuthSignIn::State::Failed);
    EXPECT_EQ(window->lblSignInState.Caption(), u"Sign-in failed: no browser could be started");
    EXPECT_NE(Hint().find(u"Sign-in failed: no browser could be started"), std::u16string::npos)
        << TextToUtf8(Hint());

    OAuthClient pop3 = window->CurrentOAuthClient();
    OpenSecretFile(Utf8ToText(TokenFile().parent_path().string()))
        ->Write(TokenEntryName(u"127.0.0.1", u"u"), StoredTokenRecord(pop3, "refresh"));
    window->txtOAuthScope.SetText(u"imap");
    CheckNow();
    EXPECT_NE(Hint().find(
                  u"Check failed: Sign in again (Settings, Sign in\u2026): signed in for another permission "
                  u"(scope)."),
              std::u16string::npos)
        << TextToUtf8(Hint());
    EXPECT_EQ(server_->Grants("refresh_token"), 0);
}

// Start-up, the event sources of a check, the settings round trip, quitting and the error guard.

#include "tests/app/MainWindowFixture.h"

using StartupTest = MainWindowTest;

TEST_F(StartupTest, FirstStartWithoutSettingsShowsTheWindowAndTheTitleAsTip) {
    CreateWindow();
    EXPECT_TRUE(window->Visible());
    EXPECT_EQ(window->txtPort.Text(), u"110");
    EXPECT_EQ(window->txtPOP3Server.Text(), u"");
    EXPECT_FALSE(window->cbWWW.Checked());
    EXPECT_TRUE(window->TrayIconMain.Visible());
    EXPECT_EQ(ImageIndex(), 0);
    EXPECT_EQ(Hint(), u"Brevgluggen 1.10") << "the tip is the title from before the English texts";
    EXPECT_EQ(window->Caption(), u"Mailhatch 1.10");
    EXPECT_EQ(window->ilTrayIcons.Count(), 3);
    EXPECT_NE(window->HotKeyId(), 0);
}

TEST_F(StartupTest, TrayImagesHaveATransparentBackgroundAndDiffer) {
    CreateWindow();
    const auto& empty = window->ilTrayIcons.Pixels(0);
    const auto& letter = window->ilTrayIcons.Pixels(1);
    EXPECT_EQ(empty[0] >> 24, 0u);
    EXPECT_EQ(letter[0] >> 24, 0u);
    EXPECT_NE(empty, letter);
    EXPECT_EQ(empty[15 * 16 + 8] >> 24, 0u) << "the bottom of the empty slot image is background";
    EXPECT_NE(letter[15 * 16 + 8] >> 24, 0u) << "the sheet slides out at the bottom";
    const auto& trouble = window->ilTrayIcons.Pixels(2);
    EXPECT_EQ(trouble[0] >> 24, 0u);
    EXPECT_EQ(trouble[12 * 16 + 11], 0xFFFFFFFFu) << "the white cross of the red mark";
    EXPECT_EQ(trouble[12 * 16 + 9], 0xFFFF0000u) << "the red mark";
    // Larger sizes repeat every pixel as a square, without smoothing.
    const std::vector<uint32_t> large = window->ilTrayIcons.ScaledPixels(1, 3);
    ASSERT_EQ(large.size(), 48u * 48u);
    for (size_t y = 0; y < 48; ++y)
        for (size_t x = 0; x < 48; ++x)
            ASSERT_EQ(large[y * 48 + x], letter[y / 3 * 16 + x / 3]) << x << "," << y;
}

TEST_F(StartupTest, TimerTicksEverySixtySecondsAndChecks) {
    CreateResidentWindow();
    EXPECT_EQ(window->TimerMain.Interval(), 60000u);
    EXPECT_TRUE(window->TimerMain.Active());
    CheckFinding(2);
    EXPECT_EQ(pop3->connects, 1);
}

TEST_F(StartupTest, HotKeyChecksOnlyForItsOwnIdentifier) {
    CreateResidentWindow();
    pop3->count = 1;
    window->DispatchHotKey(window->HotKeyId() + 1);
    EXPECT_EQ(pop3->connects, 0);
    window->DispatchHotKey(window->HotKeyId());
    WaitForChecks();
    EXPECT_EQ(pop3->connects, 1);
    EXPECT_EQ(Hint(), u"You have 1 new e-mail message.");
}

TEST_F(StartupTest, SaveWithAllSixFieldsHidesTheWindowAndChecksAtOnce) {
    CreateResidentWindow();
    window->Show();
    pop3->count = 3;
    window->btnSave.Click();
    EXPECT_FALSE(window->Visible());
    WaitForChecks();
    EXPECT_EQ(Hint(), u"You have 3 new e-mail messages.");
}

TEST_F(StartupTest, SaveWithAnEmptyFieldKeepsTheWindowOpenWithoutChecking) {
    CreateResidentWindow();
    window->txtPathToSound.SetText(u"");
    window->Show();
    pop3->count = 3;
    window->btnSave.Click();
    EXPECT_TRUE(window->Visible());
    EXPECT_EQ(pop3->connects, 0);
}

TEST_F(StartupTest, EnterInAnEditBoxPressesSave) {
    CreateResidentWindow();
    window->Show();
    pop3->count = 0;
    window->PressDefaultButton();
    EXPECT_FALSE(window->Visible());
    WaitForChecks();
    EXPECT_EQ(pop3->connects, 1);
}

TEST_F(StartupTest, TrayMenuItemRestoresAMinimizedWindow) {
    CreateResidentWindow();
    window->mnuSettings.Click();
    EXPECT_TRUE(window->Visible());
    window->SetWindowState(wsMinimized);
    window->mnuSettings.Click();
    EXPECT_EQ(window->WindowState(), wsNormal);
}

TEST_F(StartupTest, QuitClosesTheMainWindowAndEndsTheApplication) {
    CreateWindow();
    EXPECT_EQ(window->mnuMainFileQuit.ShortCut(), 16465); // Ctrl+Q
    window->mnuMainFileQuit.Click();
    EXPECT_FALSE(window->Visible());
    EXPECT_TRUE(Application->Terminated());
}

TEST_F(StartupTest, WWWModeSwitchesThePathLabelAndTheBrowseButton) {
    CreateWindow();
    EXPECT_EQ(window->lblPathToClient.Caption(), u"Path to e-mail client: (.EXE)");
    window->cbWWW.SetChecked(true);
    EXPECT_EQ(window->lblPathToClient.Caption(), u"Path to e-mail place: (WWW)");
    EXPECT_FALSE(window->btnBrowsePathToClient.Enabled());
    window->cbWWW.SetChecked(false);
    EXPECT_TRUE(window->btnBrowsePathToClient.Enabled());
}

TEST_F(StartupTest, ShutDownStoresTheFieldsAsTheyStandAndTheNextStartLoadsThem) {
    ASSERT_TRUE(SettingsFileWorks());
    CreateWindow();
    window->txtPOP3Server.SetText(u"mail.example.org");
    window->txtUserName.SetText(u"anna");
    window->txtPassword.SetText(u"hemligt");
    window->cbWWW.SetChecked(true);
    window.reset();
    EXPECT_EQ(ReadIniString(u"Main", u"POP3Server", u""), u"mail.example.org");
    EXPECT_NE(ReadIniString(u"Main", u"Password", u""), u"hemligt");
    EXPECT_EQ(UnscrambleCredential(ReadIniString(u"Main", u"Password", u"")), u"hemligt");
    CreateWindow();
    EXPECT_EQ(window->txtUserName.Text(), u"anna");
    EXPECT_EQ(window->txtPassword.Text(), u"hemligt");
    EXPECT_TRUE(window->cbWWW.Checked());
    EXPECT_TRUE(window->Visible()) << "the sound path is still empty";
}

TEST_F(StartupTest, CompleteSettingsStartInTheTrayWithAFirstCheck) {
    ASSERT_TRUE(SettingsFileWorks());
    WriteIniString(u"Main", u"POP3Server", u"127.0.0.1");
    WriteIniString(u"Main", u"Port", u"1"); // nothing listens there: the check fails at once
    WriteIniString(u"Main", u"UserName", ScrambleCredential(u"anna"));
    WriteIniString(u"Main", u"Password", ScrambleCredential(u"secret"));
    WriteIniString(u"Main", u"PathToClient", u"/usr/bin/true");
    WriteIniString(u"Main", u"PathToSound", SoundPath());
    window = std::make_unique<TfrmMain>();
    EXPECT_FALSE(window->Visible());
    WaitForChecks(); // the first check reports once events are handled
    const std::u16string checked = u"The mailbox could not be checked.\nCheck failed: ";
    EXPECT_EQ(Hint().substr(0, checked.size()), checked);
}

TEST(ErrorReportTest, FullStopIsAddedAfterALastCharacterAboveIt) {
    EXPECT_EQ(TApplication::ErrorBoxText(u"Not Connected"), u"Not Connected.");
    EXPECT_EQ(TApplication::ErrorBoxText(u"Done."), u"Done.");
    EXPECT_EQ(TApplication::ErrorBoxText(u"Stop!"), u"Stop!");
    EXPECT_EQ(TApplication::ErrorBoxText(u"Socket Error # 10061\r\n"), u"Socket Error # 10061\r\n");
    EXPECT_EQ(TApplication::ErrorBoxText(u""), u"");
}

TEST(ErrorReportTest, GuardReportsAnEscapingErrorAndReturns) {
    std::vector<std::u16string> reported;
    Application->SetOnException([&](const Exception& error) { reported.push_back(error.Message()); });
    Application->Guarded([] { throw EIdConnectTimeout(std::string_view("Connect timed out.")); });
    Application->Guarded([] { throw std::runtime_error("plain"); });
    Application->SetOnException(nullptr);
    EXPECT_EQ(reported, (std::vector<std::u16string>{u"Connect timed out.", u"plain"}));
}

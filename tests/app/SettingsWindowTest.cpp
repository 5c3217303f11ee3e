// The settings window: texts in both languages, the WWW reaction, Save, the file choosers, the
// About box, the separator lines and the button glyphs.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>

#include "shell/Dialogs.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/TemporaryFolder.h"
#include "toolz/FormToolz.h"
#include "toolz/StartWithDesktop.h"

namespace {

struct ShownBox {
    std::u16string message;
    std::u16string caption;
};

// Sets LC_ALL for one test and puts the old value and the captured locale back afterwards.
class ScopedLcAll {
public:
    explicit ScopedLcAll(const char* value) {
        if (const char* old = std::getenv("LC_ALL"))
            saved_ = old;
        Set(value);
    }
    ~ScopedLcAll() {
        if (saved_)
            setenv("LC_ALL", saved_->c_str(), 1);
        else
            unsetenv("LC_ALL");
        CaptureThreadLocale();
    }
    static void Set(const char* value) {
        setenv("LC_ALL", value, 1);
        CaptureThreadLocale();
    }

private:
    std::optional<std::string> saved_;
};

// The toolkit widget that shows the control in its window now on screen.
template <class Widget> Widget* ShownWidgetOf(const TControl& control) {
    const QRect bounds(control.Left(), control.Top(), control.Width(), control.Height());
    for (QWidget* widget : QApplication::allWidgets()) {
        auto* typed = qobject_cast<Widget*>(widget);
        if (typed && typed->isVisible() && typed->geometry() == bounds)
            return typed;
    }
    return nullptr;
}

void ClickAt(QWidget* widget, QPoint point) {
    const QPointF local(point);
    const QPointF global(widget->mapToGlobal(point));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

void PressEnterIn(QWidget* widget) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(widget, &press);
}

struct ChooserCall {
    std::u16string filter;
    std::u16string initialDir;
    std::u16string title;
};

} // namespace

class SettingsWindowTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        SetInformationBoxForTesting([this](TForm*, std::u16string_view message, std::u16string_view caption) {
            boxes.push_back({std::u16string(message), std::u16string(caption)});
        });
        TOpenDialog::SetChooserForTesting([this](const TOpenDialog& dialog) {
            chooserCalls.push_back({dialog.Filter(), dialog.InitialDir(), dialog.Title()});
            return chosenFile;
        });
    }
    void TearDown() override {
        SetInformationBoxForTesting(nullptr);
        TOpenDialog::SetChooserForTesting(nullptr);
        MainWindowTest::TearDown();
    }

    void CreateWindowIn(std::u16string_view languageSwitch) {
        SetCommandLineArguments({std::u16string(languageSwitch)});
        CreateWindow();
    }

    std::vector<ShownBox> boxes;
    std::vector<ChooserCall> chooserCalls;
    std::optional<std::u16string> chosenFile;
};

// ---- Texts ----------------------------------------------------------------------------------

TEST_F(SettingsWindowTest, SwedishWindowKeepsTheLayoutCaptions) {
    CreateWindowIn(u"/SWEDISH");
    const TfrmMain& w = *window;
    EXPECT_EQ(Application->Title(), u"Brevgluggen 1.10");
    EXPECT_EQ(w.Caption(), u"Brevgluggen 1.10");
    EXPECT_EQ(w.mnuMainFile.Caption(), u"&Arkiv");
    EXPECT_EQ(w.mnuMainFileQuit.Caption(), u"&Avsluta!");
    EXPECT_EQ(w.mnuMainHelp.Caption(), u"&Hjälp");
    EXPECT_EQ(w.mnuMainHelpAbout.Caption(), u"&Om...");
    EXPECT_EQ(w.lblPOP3Server.Caption(), u"POP3-server:");
    EXPECT_EQ(w.lblPort.Caption(), u"Port:");
    EXPECT_EQ(w.lblUserName.Caption(), u"Användarnamn:");
    EXPECT_EQ(w.lblPassword.Caption(), u"Lösenord:");
    EXPECT_EQ(w.lblPathToClient.Caption(), u"Sökväg till e-postklient: (.EXE)");
    EXPECT_EQ(w.lblPathToSound.Caption(), u"Sökväg till ljudfil: (.WAV)");
    EXPECT_EQ(w.btnBrowsePathToClient.Caption(), u"Bläddra...");
    EXPECT_EQ(w.btnBrowsePathToSound.Caption(), u"Bläddra...");
    EXPECT_EQ(w.btnSave.Caption(), u"&Spara!");
    EXPECT_EQ(w.OpenDialogEXE.Filter(), u"Program (*)|*");
    EXPECT_EQ(w.OpenDialogEXE.Title(), u"Bläddra...");
    EXPECT_EQ(w.OpenDialogWAV.Filter(), u"WAV-filer (*.WAV)|*.WAV");
    EXPECT_EQ(w.OpenDialogWAV.Title(), u"Bläddra...");
    EXPECT_EQ(w.mnuSettings.Caption(), u"&Inställningar...");
    EXPECT_EQ(w.cbWWW.Caption(), u"WWW");
    EXPECT_EQ(w.lblProtocol.Caption(), u"Protokoll:");
    EXPECT_EQ(w.cbNotify.Caption(), u"Visa notis om ny e-post");
    EXPECT_EQ(w.cbStartWithDesktop.Caption(), u"Starta med skrivbordet");
}

TEST_F(SettingsWindowTest, EnglishWindowGetsEveryEnglishText) {
    CreateWindowIn(u"/english");
    const TfrmMain& w = *window;
    EXPECT_EQ(Application->Title(), u"Mailhatch 1.10");
    EXPECT_EQ(w.Caption(), u"Mailhatch 1.10");
    EXPECT_EQ(w.mnuMainFile.Caption(), u"&File");
    EXPECT_EQ(w.mnuMainFileQuit.Caption(), u"&Quit!");
    EXPECT_EQ(w.mnuMainHelp.Caption(), u"&Help");
    EXPECT_EQ(w.mnuMainHelpAbout.Caption(), u"&About...");
    EXPECT_EQ(w.lblPOP3Server.Caption(), u"POP3 Server:");
    EXPECT_EQ(w.lblPort.Caption(), u"Port:");
    EXPECT_EQ(w.lblProtocol.Caption(), u"Protocol:");
    EXPECT_EQ(w.cbNotify.Caption(), u"Show a notice of new mail");
    EXPECT_EQ(w.lblUserName.Caption(), u"Username:");
    EXPECT_EQ(w.lblPassword.Caption(), u"Password:");
    EXPECT_EQ(w.lblPathToClient.Caption(), u"Path to e-mail client: (.EXE)");
    EXPECT_EQ(w.lblPathToSound.Caption(), u"Path to sound: (.WAV)");
    EXPECT_EQ(w.btnBrowsePathToClient.Caption(), u"Browse...");
    EXPECT_EQ(w.btnBrowsePathToSound.Caption(), u"Browse...");
    EXPECT_EQ(w.btnSave.Caption(), u"&Save!");
    EXPECT_EQ(w.OpenDialogEXE.Filter(), u"Programs (*)|*");
    EXPECT_EQ(w.OpenDialogEXE.Title(), u"Browse...");
    EXPECT_EQ(w.OpenDialogWAV.Filter(), u"WAV Files (*.WAV)|*.WAV");
    EXPECT_EQ(w.OpenDialogWAV.Title(), u"Browse...");
    EXPECT_EQ(w.mnuSettings.Caption(), u"&Settings...");
    EXPECT_EQ(w.cbWWW.Caption(), u"WWW");
    EXPECT_EQ(w.cbStartWithDesktop.Caption(), u"Start with the desktop");
    EXPECT_EQ(Hint(), u"Brevgluggen 1.10") << "the tip changes only with the first check";
}

TEST_F(SettingsWindowTest, LocaleChangeTurnsPickedTextsButNotTheCreationTexts) {
    const ScopedLcAll english("en_US.UTF-8");
    CreateWindowIn(u"");
    EXPECT_EQ(window->Caption(), u"Mailhatch 1.10");

    ScopedLcAll::Set("sv_SE.UTF-8");
    window->cbWWW.SetChecked(true);
    EXPECT_EQ(window->lblPathToClient.Caption(), u"Sökväg till e-postplats: (WWW)");
    window->mnuMainHelpAbout.Click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, u"Om Mailhatch 1.10");
    EXPECT_EQ(window->lblUserName.Caption(), u"Username:");
    EXPECT_EQ(window->btnSave.Caption(), u"&Save!");
}

// ---- WWW mode -------------------------------------------------------------------------------

TEST_F(SettingsWindowTest, TickingWWWFillsAnEmptyPathAndKeepsAProgramPath) {
    CreateWindow();
    window->cbWWW.SetChecked(true);
    EXPECT_EQ(window->txtPathToClient.Text(), u"http://");
    EXPECT_EQ(window->lblPathToClient.Caption(), u"Path to e-mail place: (WWW)");
    EXPECT_FALSE(window->btnBrowsePathToClient.Enabled());

    window->cbWWW.SetChecked(false);
    window->txtPathToClient.SetText(u"/usr/bin/mailer");
    window->cbWWW.SetChecked(true);
    EXPECT_EQ(window->txtPathToClient.Text(), u"/usr/bin/mailer");
}

TEST_F(SettingsWindowTest, UntickingWWWEmptiesOnlyABarePrefix) {
    CreateWindow();
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"http://", u""},          {u"https://", u""},
        {u"HTTP://", u"HTTP://"},   {u"http://mail.example.org", u"http://mail.example.org"},
        {u" http://", u" http://"},
    };
    for (const auto& [before, after] : cases) {
        window->cbWWW.SetChecked(true);
        window->txtPathToClient.SetText(before);
        window->cbWWW.SetChecked(false);
        EXPECT_EQ(window->txtPathToClient.Text(), after) << TextToUtf8(before);
        EXPECT_EQ(window->lblPathToClient.Caption(), u"Path to e-mail client: (.EXE)");
        EXPECT_TRUE(window->btnBrowsePathToClient.Enabled());
    }
}

TEST_F(SettingsWindowTest, StoredWWWWithAnEmptyPathStartsWithThePrefillWhichCountsAsFilled) {
    ASSERT_TRUE(SettingsFileWorks());
    WriteIniString(u"Main", u"POP3Server", u"127.0.0.1");
    WriteIniString(u"Main", u"Port", u"1"); // nothing listens there: the check fails at once
    WriteIniString(u"Main", u"UserName", ScrambleCredential(u"anna"));
    WriteIniString(u"Main", u"Password", ScrambleCredential(u"secret"));
    WriteIniString(u"Main", u"PathToSound", SoundPath());
    WriteIniString(u"Main", u"WWW", u"1");
    window = std::make_unique<TfrmMain>();
    EXPECT_EQ(window->txtPathToClient.Text(), u"http://");
    EXPECT_EQ(window->lblPathToClient.Caption(), u"Path to e-mail place: (WWW)");
    EXPECT_FALSE(window->btnBrowsePathToClient.Enabled());
    EXPECT_FALSE(window->Visible()) << "all six fields are filled: straight into the tray";
}

TEST_F(SettingsWindowTest, WWWBoxTogglesOnAClickAnywhereInItsArea) {
    CreateWindow();
    QCheckBox* box = ShownWidgetOf<QCheckBox>(window->cbWWW);
    ASSERT_NE(box, nullptr);
    const QPoint rightEndOfTheBox(window->cbWWW.Width() - 5, window->cbWWW.Height() / 2);
    ClickAt(box, rightEndOfTheBox);
    EXPECT_TRUE(window->cbWWW.Checked());
    EXPECT_EQ(window->txtPathToClient.Text(), u"http://");
    ClickAt(box, rightEndOfTheBox);
    EXPECT_FALSE(window->cbWWW.Checked());
    EXPECT_EQ(window->txtPathToClient.Text(), u"");
}

// ---- Edit boxes -----------------------------------------------------------------------------

TEST_F(SettingsWindowTest, PasswordIsShownAsAsterisks) {
    CreateWindow();
    window->txtPassword.SetText(u"hemligt");
    QLineEdit* password = ShownWidgetOf<QLineEdit>(window->txtPassword);
    ASSERT_NE(password, nullptr);
    EXPECT_EQ(password->displayText(), QStringLiteral("*******"));
    EXPECT_EQ(ShownWidgetOf<QLineEdit>(window->txtUserName)->echoMode(), QLineEdit::Normal);
}

TEST_F(SettingsWindowTest, EnterPressesSaveFromEveryControlButAFocusedBrowseButtonWhichOpensItsChooser) {
    CreateResidentWindow();
    window->txtPort.SetText(u"abc"); // letters from an edited settings file: the port box rejects them
    pop3->count = 0;
    const std::vector<const TControl*> savers = {
        &window->txtPOP3Server,   &window->txtPort, &window->txtUserName,   &window->txtPassword,
        &window->txtPathToClient, &window->cbWWW,   &window->txtPathToSound};
    for (const TControl* control : savers) {
        window->Show();
        QWidget* widget = ShownWidgetOf<QLineEdit>(*control);
        if (!widget)
            widget = ShownWidgetOf<QCheckBox>(*control);
        ASSERT_NE(widget, nullptr);
        PressEnterIn(widget);
        EXPECT_FALSE(window->Visible()) << control->Left() << "," << control->Top();
        WaitForChecks();
    }
    EXPECT_EQ(pop3->connects, 7);
    EXPECT_FALSE(window->cbWWW.Checked()) << "Enter does not tick the box";

    window->Show();
    for (const TBitBtn* browse : {&window->btnBrowsePathToClient, &window->btnBrowsePathToSound})
        PressEnterIn(ShownWidgetOf<QPushButton>(*browse));
    ASSERT_EQ(chooserCalls.size(), 2u);
    EXPECT_EQ(chooserCalls[0].filter, window->OpenDialogEXE.Filter());
    EXPECT_EQ(chooserCalls[1].filter, window->OpenDialogWAV.Filter());
    EXPECT_TRUE(window->Visible());
    EXPECT_EQ(pop3->connects, 7);
}

// ---- Save -----------------------------------------------------------------------------------

TEST_F(SettingsWindowTest, SaveWithAnEmptySoundPathStoresAllSevenAndStaysOpen) {
    ASSERT_TRUE(SettingsFileWorks());
    CreateResidentWindow();
    window->txtPathToSound.SetText(u"");
    window->cbWWW.SetChecked(true);
    window->txtPathToClient.SetText(u"https://mail.example.org");
    window->Show();
    window->btnSave.Click();
    EXPECT_TRUE(window->Visible());
    EXPECT_EQ(pop3->connects, 0);
    EXPECT_EQ(ReadIniString(u"Main", u"POP3Server", u"-"), u"127.0.0.1");
    EXPECT_EQ(ReadIniString(u"Main", u"Port", u"-"), u"110");
    EXPECT_EQ(UnscrambleCredential(ReadIniString(u"Main", u"UserName", u"-")), u"anna");
    EXPECT_EQ(UnscrambleCredential(ReadIniString(u"Main", u"Password", u"-")), u"secret");
    EXPECT_EQ(ReadIniString(u"Main", u"PathToClient", u"-"), u"https://mail.example.org");
    EXPECT_EQ(ReadIniString(u"Main", u"PathToSound", u"-"), u"");
    EXPECT_TRUE(ReadIniBool(u"Main", u"WWW", false));
}

// The chooser: Add, a pick as the user makes it, Save with a mailbox or the shared boxes
// incomplete (the window stays, showing what is missing), Remove.
TEST_F(SettingsWindowTest, ChooserEditsEachMailboxAndSaveWritesAllAndShowsTheIncompleteOne) {
    ASSERT_TRUE(SettingsFileWorks());
    CreateResidentWindow();
    TfrmMain& w = *window;
    w.Show();
    auto pick = [&](int index) { ShownWidgetOf<QComboBox>(w.cmbMailbox)->setCurrentIndex(index); };
    auto names = [&] { return w.cmbMailbox.Items(); };
    auto type = [](TEdit& edit, std::u16string_view text) {
        ShownWidgetOf<QLineEdit>(edit)->setText(QString::fromStdU16String(std::u16string(text)));
    };
    using Names = std::vector<std::u16string>;
    EXPECT_EQ(names(), Names{u"Mailbox 1"}) << "no name, no user name";
    type(w.txtUserName, u"asa");
    EXPECT_EQ(names(), Names{u"asa"});
    EXPECT_FALSE(w.btnRemoveMailbox.Enabled());

    w.btnAddMailbox.Click();
    EXPECT_EQ(w.ShownMailbox(), 1u);
    EXPECT_EQ(names(), (Names{u"asa", u"Mailbox 2"}));
    EXPECT_TRUE(w.btnRemoveMailbox.Enabled());
    EXPECT_EQ(w.txtPOP3Server.Text(), u"");
    EXPECT_EQ(w.txtPort.Text(), u"110");
    type(w.txtMailboxName, u"Arbete \u00C5");
    w.txtPOP3Server.SetText(u"imap.example.org");
    w.txtUserName.SetText(u"bo");
    w.cmbProtocol.SetItemIndex(mpIMAP);
    w.btnSave.Click(); // no password in mailbox 2
    EXPECT_TRUE(w.Visible());
    EXPECT_EQ(w.ShownMailbox(), 1u);
    EXPECT_EQ(ReadSettingsFile().mailboxes.size(), 2u);

    pick(0);
    EXPECT_EQ(w.txtUserName.Text(), u"asa");
    EXPECT_EQ(w.Protocol(), mpPOP3);
    w.txtPathToSound.SetText(u""); // shared: missing for every mailbox
    pick(1);
    EXPECT_EQ(w.txtUserName.Text(), u"bo");
    EXPECT_EQ(w.Protocol(), mpIMAP);
    EXPECT_EQ(names(), (Names{u"asa", u"Arbete \u00C5"}));
    w.txtPassword.SetText(u"hemligt");
    w.btnSave.Click();
    EXPECT_TRUE(w.Visible());
    EXPECT_EQ(w.ShownMailbox(), 0u) << "the first mailbox the shared boxes leave incomplete";
    EXPECT_EQ(w.savedSettings_, ReadSettingsFile());
    EXPECT_EQ(w.savedSettings_.mailboxes[1].password, u"hemligt");
    EXPECT_EQ(w.savedSettings_.mailboxes[1].protocol, mpIMAP);

    pick(1);
    w.btnRemoveMailbox.Click();
    EXPECT_EQ(names(), Names{u"asa"});
    EXPECT_FALSE(w.btnRemoveMailbox.Enabled());
    w.btnSave.Click();
    EXPECT_EQ(ReadSettingsFile().mailboxes.size(), 1u);
    EXPECT_EQ(pop3->connects, 0);
}

// ---- TLS box --------------------------------------------------------------------------------

namespace {

std::string ReadWholeFile(const std::u16string& path) {
    std::ifstream in(std::filesystem::u8path(TextToUtf8(path)), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The file as the window stores it, with a hand-written line and a second section around it;
// `useTLS` is the UseTLS line, or empty for a file from before TLS.
std::string SettingsFileText(const std::string& port, const std::string& useTLS) {
    return "; by hand\n[Main]\nPOP3Server=127.0.0.1\nPort=" + port +
           "\nUserName=" + TextToUtf8(ScrambleCredential(u"anna")) +
           "\nPassword=" + TextToUtf8(ScrambleCredential(u"secret")) +
           "\nPathToClient=/usr/bin/true\nPathToSound=/nonexistent.wav\nWWW=0\n" + useTLS +
           "Extra=kept\n[Other]\nKey=value\n";
}

} // namespace

TEST_F(SettingsWindowTest, UseTLSIsLoadedStoredAfterTheOthersAndGivenToTheCheck) {
    ASSERT_TRUE(SettingsFileWorks());
    struct Case {
        std::string port;
        std::string stored; // "" for no key
        bool ticked;
        TIdUseTLS setting;
    };
    const std::vector<Case> cases = {
        {"110", "", false, utNoTLSSupport},   {"995", "", true, utUseImplicitTLS},
        {"110", "0", false, utNoTLSSupport},  {"995", "1", true, utUseImplicitTLS},
        {"110", "2", true, utUseRequireTLS},  {"995", "2", true, utUseRequireTLS},
        {"110", "1", true, utUseImplicitTLS}, {"110", "3", true, utUseExplicitTLS},
        {"995", "7", true, utUseImplicitTLS}, {"110", "x", false, utNoTLSSupport},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("Port=" + c.port + " UseTLS=" + c.stored);
        const std::string line = c.stored.empty() ? "" : "UseTLS=" + c.stored + "\n";
        std::ofstream(std::filesystem::u8path(TextToUtf8(SettingsFilePath())), std::ios::binary)
            << SettingsFileText(c.port, line);
        CreateWindow();
        EXPECT_EQ(window->cbTLS.Checked(), c.ticked);
        EXPECT_EQ(window->txtPort.Text(), Utf8ToText(c.port));
        window->Hide();
        CheckFinding(1);
        EXPECT_EQ(pop3->UseTLS(), c.setting);
        EXPECT_EQ(pop3->Port(), std::stoi(c.port));
        window.reset();
        // Every line stays as it was; a file without the key, whose default holds, gets none.
        const std::string stored = c.stored.empty() ? "" : "UseTLS=" + std::to_string(c.setting) + "\n";
        EXPECT_EQ(ReadWholeFile(SettingsFilePath()), SettingsFileText(c.port, stored));
        RemoveSettingsFile();
    }
}

TEST_F(SettingsWindowTest, TlsBoxMovesTheDefaultPortAndEndsTheUseTlsOfTheFile) {
    ASSERT_TRUE(SettingsFileWorks());
    CreateWindow();
    struct Step {
        std::u16string portBefore;
        bool tick;
        std::u16string portAfter;
        TIdUseTLS setting;
    };
    const std::vector<Step> steps = {
        {u"110", true, u"995", utUseImplicitTLS},  {u"995", false, u"110", utNoTLSSupport},
        {u"2110", true, u"2110", utUseRequireTLS}, {u"995", true, u"995", utUseImplicitTLS},
        {u"2110", false, u"2110", utNoTLSSupport},
    };
    for (const Step& step : steps) {
        window->cbTLS.SetChecked(!step.tick);
        window->txtPort.SetText(step.portBefore);
        window->cbTLS.SetChecked(step.tick);
        EXPECT_EQ(window->txtPort.Text(), step.portAfter) << TextToUtf8(step.portBefore);
        EXPECT_EQ(window->UseTLSSetting(), step.setting) << TextToUtf8(step.portBefore);
    }
    window.reset();
    WriteIniString(u"Main", u"UseTLS", u"3");
    WriteIniString(u"Main", u"Port", u"110");
    CreateWindow();
    EXPECT_EQ(window->UseTLSSetting(), utUseExplicitTLS);
    window->txtPort.SetText(u"2110");
    EXPECT_EQ(window->UseTLSSetting(), utUseRequireTLS) << "the port was changed: 3 is gone";
    window->txtPort.SetText(u"110");
    window->cbTLS.SetChecked(false);
    window->cbTLS.SetChecked(true);
    EXPECT_EQ(window->UseTLSSetting(), utUseImplicitTLS) << "the box was changed: 3 is gone";
}

// ---- Protocol choice ------------------------------------------------------------------------

// The user picks a protocol in the drop-down list on screen (the program's own setting of the
// index is no pick and moves nothing).
TEST_F(SettingsWindowTest, ProtocolPickMovesTheDefaultPortsBesideTheTlsBox) {
    CreateWindow();
    auto* list = ShownWidgetOf<QComboBox>(window->cmbProtocol);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count(), 2);
    EXPECT_EQ(window->Protocol(), mpPOP3);
    struct Step {
        std::u16string portBefore;
        bool tls;
        TMailProtocol pick;
        std::u16string portAfter;
        TIdUseTLS setting;
    };
    const std::vector<Step> steps = {
        {u"110", false, mpIMAP, u"143", utNoTLSSupport},   {u"143", false, mpPOP3, u"110", utNoTLSSupport},
        {u"995", true, mpIMAP, u"993", utUseImplicitTLS},  {u"993", true, mpPOP3, u"995", utUseImplicitTLS},
        {u"2110", true, mpIMAP, u"2110", utUseRequireTLS}, {u"993", true, mpIMAP, u"993", utUseImplicitTLS},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(TextToUtf8(step.portBefore));
        window->cbTLS.SetChecked(step.tls);
        window->txtPort.SetText(step.portBefore);
        list->setCurrentIndex(step.pick);
        EXPECT_EQ(window->Protocol(), step.pick);
        EXPECT_EQ(window->lblPOP3Server.Caption(), step.pick == mpIMAP ? u"IMAP Server:" : u"POP3 Server:");
        EXPECT_EQ(window->txtPort.Text(), step.portAfter);
        EXPECT_EQ(window->UseTLSSetting(), step.setting);
    }
    // The TLS box moves IMAP's ports as it moves POP3's.
    window->cbTLS.SetChecked(false);
    EXPECT_EQ(window->txtPort.Text(), u"143");
    window->cbTLS.SetChecked(true);
    EXPECT_EQ(window->txtPort.Text(), u"993");
    window->cmbProtocol.SetItemIndex(mpPOP3);
    EXPECT_EQ(window->txtPort.Text(), u"993");
}

// Ticking OAuth, the provider and the protocol, in any order, move the server and port where they
// hold a preset's default (or nothing), and the scope asked for follows; the user's own stay.
TEST_F(SettingsWindowTest, ProviderPresetsFollowTheProtocolAndTheProvider) {
    CreateWindow();
    window->txtPOP3Server.SetText(u"");
    window->txtPort.SetText(u"110");
    window->cbTLS.SetChecked(false);
    auto* protocols = ShownWidgetOf<QComboBox>(window->cmbProtocol);
    ASSERT_NE(protocols, nullptr);
    // The provider list shows only once OAuth is ticked.
    auto pickProvider = [&](TOAuthProvider provider) {
        auto* providers = ShownWidgetOf<QComboBox>(window->cmbOAuthProvider);
        ASSERT_NE(providers, nullptr);
        providers->setCurrentIndex(provider);
    };
    const auto ownServer = [&] {
        window->txtPOP3Server.SetText(u"mail.example.org");
        window->txtPort.SetText(u"2995");
    };
    const struct {
        const char* action;
        std::function<void()> act;
        std::u16string server;
        std::u16string port;
        std::string scope;
    } steps[] = {
        {"IMAP, no OAuth", [&] { protocols->setCurrentIndex(mpIMAP); }, u"", u"143", ""},
        {"tick OAuth", [&] { window->cbOAuth.SetChecked(true); }, u"outlook.office365.com", u"993",
         "https://outlook.office.com/IMAP.AccessAsUser.All offline_access"},
        {"Google", [&] { pickProvider(opGoogle); }, u"imap.gmail.com", u"993", "https://mail.google.com/"},
        {"POP3", [&] { protocols->setCurrentIndex(mpPOP3); }, u"pop.gmail.com", u"995",
         "https://mail.google.com/"},
        {"Microsoft", [&] { pickProvider(opMicrosoft); }, u"outlook.office365.com", u"995",
         "https://outlook.office.com/POP.AccessAsUser.All offline_access"},
        {"own server, IMAP",
         [&] {
             ownServer();
             protocols->setCurrentIndex(mpIMAP);
         },
         u"mail.example.org", u"2995", "https://outlook.office.com/IMAP.AccessAsUser.All offline_access"},
        {"own server, Google", [&] { pickProvider(opGoogle); }, u"mail.example.org", u"2995",
         "https://mail.google.com/"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.action);
        step.act();
        EXPECT_EQ(window->txtPOP3Server.Text(), step.server);
        EXPECT_EQ(window->txtPort.Text(), step.port);
        if (!step.scope.empty()) {
            EXPECT_EQ(window->CurrentOAuthClient().Provider.Scope, step.scope);
            EXPECT_TRUE(window->cbTLS.Checked());
        }
    }
}

TEST_F(SettingsWindowTest, ProtocolIsLoadedAndStoredOnlyWhenTheFileNeedsIt) {
    ASSERT_TRUE(SettingsFileWorks());
    struct Case {
        std::u16string stored; // empty: no key
        TMailProtocol loaded;
        std::u16string written; // empty: the key stays out of the file
    };
    const std::vector<Case> cases = {
        {u"", mpPOP3, u""},   {u"1", mpIMAP, u"1"}, {u"0", mpPOP3, u"0"},
        {u"7", mpPOP3, u"0"}, {u"x", mpPOP3, u"0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TextToUtf8(c.stored));
        WriteIniString(u"Main", u"Port", u"993");
        if (!c.stored.empty())
            WriteIniString(u"Main", u"Protocol", c.stored);
        CreateWindow();
        EXPECT_EQ(window->Protocol(), c.loaded);
        EXPECT_EQ(window->lblPOP3Server.Caption(), c.loaded == mpIMAP ? u"IMAP Server:" : u"POP3 Server:");
        // Without UseTLS, the protocol's own TLS port means TLS from the first byte.
        EXPECT_EQ(window->UseTLSSetting(), c.loaded == mpIMAP ? utUseImplicitTLS : utNoTLSSupport);
        window.reset();
        EXPECT_EQ(ReadIniString(u"Main", u"Protocol", u""), c.written);
        RemoveSettingsFile();
    }
}

TEST_F(SettingsWindowTest, NotifyIsOnWithoutTheKeyAndStoredOnlyWhenTheFileNeedsIt) {
    ASSERT_TRUE(SettingsFileWorks());
    const struct {
        std::u16string stored; // empty: no key
        bool loaded;
        std::u16string written; // empty: the key stays out of the file
    } cases[] = {{u"", true, u""}, {u"0", false, u"0"}, {u"1", true, u"1"}, {u"yes", true, u"1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(TextToUtf8(c.stored));
        if (!c.stored.empty())
            WriteIniString(u"Main", u"Notify", c.stored);
        CreateWindow();
        EXPECT_EQ(window->cbNotify.Checked(), c.loaded);
        window.reset();
        EXPECT_EQ(ReadIniString(u"Main", u"Notify", u""), c.written);
        RemoveSettingsFile();
    }
}

// ---- The column of the newer settings -------------------------------------------------------

namespace {

// The visible controls of the column, top to bottom and left to right within a row.
std::vector<const TControl*> ShownInReadingOrder(const std::vector<const TControl*>& column) {
    std::vector<const TControl*> shown;
    std::copy_if(column.begin(), column.end(), std::back_inserter(shown),
                 [](const TControl* control) { return control->Visible(); });
    // Twice the middle row, so that a label and its box, centred on one line, share a row.
    auto middle = [](const TControl* c) { return 2 * c->Top() + c->Height(); };
    std::sort(shown.begin(), shown.end(), [&](const TControl* a, const TControl* b) {
        return middle(a) != middle(b) ? middle(a) < middle(b) : a->Left() < b->Left();
    });
    return shown;
}

} // namespace

TEST_F(SettingsWindowTest, ColumnShowsTheRowsOfTheChoicesInReadingOrderWithinTheWindow) {
    CreateWindow();
    TfrmMain& w = *window;
    const std::vector<const TControl*> connect = {&w.cmbMailbox,     &w.btnAddMailbox,  &w.btnRemoveMailbox,
                                                  &w.lblMailboxName, &w.txtMailboxName, &w.lblProtocol,
                                                  &w.cmbProtocol,    &w.cbTLS,          &w.cbOAuth};
    const std::vector<const TControl*> client = {&w.lblOAuthProvider,     &w.cmbOAuthProvider,
                                                 &w.lblOAuthClientId,     &w.txtOAuthClientId,
                                                 &w.lblOAuthClientSecret, &w.txtOAuthClientSecret};
    const std::vector<const TControl*> custom = {&w.lblOAuthAuthorizeUrl, &w.txtOAuthAuthorizeUrl,
                                                 &w.lblOAuthTokenUrl,     &w.txtOAuthTokenUrl,
                                                 &w.lblOAuthScope,        &w.txtOAuthScope};
    const std::vector<const TControl*> signIn = {&w.btnSignIn, &w.btnSignOut, &w.lblSignInState,
                                                 &w.lblTokenPlace};
    const std::vector<const TControl*> show = {&w.cbNotify, &w.cbStartWithDesktop};
    auto joined = [](std::initializer_list<std::vector<const TControl*>> parts) {
        std::vector<const TControl*> all;
        for (const auto& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const std::vector<const TControl*> column = joined({connect, client, custom, signIn, show});
    const struct {
        const char* name;
        bool oauth;
        TOAuthProvider provider;
        std::vector<const TControl*> expected;
    } cases[] = {
        {"password", false, opCustom, joined({connect, show})},
        {"Microsoft", true, opMicrosoft, joined({connect, client, signIn, show})},
        {"custom", true, opCustom, joined({connect, client, custom, signIn, show})},
        {"password again", false, opMicrosoft, joined({connect, show})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        w.cbOAuth.SetChecked(c.oauth);
        if (auto* list = ShownWidgetOf<QComboBox>(w.cmbOAuthProvider))
            list->setCurrentIndex(c.provider); // as the user picks it
        EXPECT_EQ(ShownInReadingOrder(column), c.expected);
        int previousBottom = 0;
        for (const TControl* control : c.expected) {
            EXPECT_GE(control->Left(), 264) << "right of the controls above, " << control->Top();
            EXPECT_LE(control->Left() + control->Width(), w.ClientWidth() - 24) << control->Top();
            EXPECT_LE(control->Top() + control->Height(), w.ClientHeight() - 24) << control->Top();
            if (control->Left() == 264) { // a new row: below the one before
                EXPECT_GT(control->Top(), previousBottom) << control->Top();
                previousBottom = control->Top() + control->Height();
            }
        }
    }
    EXPECT_TRUE(w.txtPassword.Enabled());
    w.cbOAuth.SetChecked(true);
    EXPECT_FALSE(w.txtPassword.Enabled()) << "no password with OAuth";
}

TEST_F(SettingsWindowTest, SignInAndSignOutAreEnabledOnlyWhenTheyCanAct) {
    CreateWindow();
    TfrmMain& w = *window;
    const struct {
        bool oauth;
        TOAuthProvider provider;
        std::u16string clientId;
        std::u16string authorizeUrl;
        std::u16string tokenUrl;
        bool signIn;
    } cases[] = {
        {false, opMicrosoft, u"id", u"", u"", false},
        {true, opGoogle, u"id", u"", u"", true},
        {true, opCustom, u"id", u"https://a.example/auth", u"", false},
        {true, opCustom, u"id", u"https://a.example/auth", u"https://a.example/token", true},
        {true, opCustom, u"", u"https://a.example/auth", u"https://a.example/token", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(TextToUtf8(c.clientId + u" " + c.authorizeUrl + u" " + c.tokenUrl));
        w.cbOAuth.SetChecked(false);
        w.txtOAuthAuthorizeUrl.SetText(c.authorizeUrl);
        w.txtOAuthTokenUrl.SetText(c.tokenUrl);
        w.txtOAuthClientId.SetText(c.clientId);
        w.cmbOAuthProvider.SetItemIndex(c.provider);
        w.cbOAuth.SetChecked(c.oauth);
        EXPECT_EQ(w.btnSignIn.Enabled(), c.signIn);
        EXPECT_FALSE(w.btnSignOut.Enabled()) << "no token stored";
    }
    // Typed by the user: the button follows each change of the text.
    w.txtOAuthClientId.SetText(u"id");
    QLineEdit* tokenUrl = ShownWidgetOf<QLineEdit>(w.txtOAuthTokenUrl);
    ASSERT_NE(tokenUrl, nullptr);
    tokenUrl->setText(QString());
    EXPECT_FALSE(w.btnSignIn.Enabled());
    tokenUrl->setText(QStringLiteral("https://a.example/t"));
    EXPECT_TRUE(w.btnSignIn.Enabled());
}

TEST_F(SettingsWindowTest, LongStateTextsAreShortenedInTheMiddleWithTheWholeTextAsTip) {
    CreateWindow();
    window->cbOAuth.SetChecked(true);
    QLabel* label = ShownWidgetOf<QLabel>(window->lblTokenPlace);
    ASSERT_NE(label, nullptr);
    const std::u16string whole =
        u"Token kept in: /home/someone-with-a-long-name/.config/brevgluggen/and/deeper/brevgluggen.token";
    window->lblTokenPlace.SetCaption(whole);
    const std::u16string shown = label->text().toStdU16String();
    EXPECT_NE(shown.find(u"\u2026"), std::u16string::npos) << TextToUtf8(shown);
    EXPECT_EQ(shown.substr(0, 8), whole.substr(0, 8));
    EXPECT_EQ(shown.substr(shown.size() - 8), whole.substr(whole.size() - 8));
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), window->lblTokenPlace.Width());
    EXPECT_EQ(label->toolTip().toStdU16String(), whole);

    window->lblTokenPlace.SetCaption(u"Token kept in: keyring");
    EXPECT_EQ(label->text(), QStringLiteral("Token kept in: keyring"));
    EXPECT_TRUE(label->toolTip().isEmpty());
}

// ---- Start with the desktop -----------------------------------------------------------------

TEST_F(SettingsWindowTest, StartBoxShowsAndSetsTheAutostartEntryOutsideTheSettingsFile) {
    ASSERT_TRUE(SettingsFileWorks());
    TemporaryFolder config("bg_app_autostart");
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string savedValue = saved ? saved : "";
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    const std::filesystem::path entry = config.Path() / "autostart" / "brevgluggen.desktop";

    SetStartsWithDesktop(true);
    CreateWindow();
    EXPECT_TRUE(window->cbStartWithDesktop.Checked()) << "the entry found at the start";
    window->cbStartWithDesktop.SetChecked(false);
    EXPECT_FALSE(std::filesystem::exists(entry));
    window.reset();
    EXPECT_EQ(ReadWholeFile(SettingsFilePath()).find("Start"), std::string::npos);

    // An autostart folder that cannot be made: the box shows what is in place, the box says why.
    std::filesystem::remove_all(entry.parent_path());
    std::ofstream(entry.parent_path()) << "a file";
    CreateWindow();
    EXPECT_FALSE(window->cbStartWithDesktop.Checked());
    window->cbStartWithDesktop.SetChecked(true);
    EXPECT_FALSE(window->cbStartWithDesktop.Checked());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].message.find(u"autostart"), std::u16string::npos) << TextToUtf8(boxes[0].message);
    window.reset();

    if (saved)
        setenv("XDG_CONFIG_HOME", savedValue.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

// ---- File choosers --------------------------------------------------------------------------

TEST_F(SettingsWindowTest, BrowseButtonsFillTheirOwnBoxAndACancelKeepsTheOldPath) {
    CreateWindow();
    window->txtPathToClient.SetText(u"/old/mailer");
    chosenFile = u"/usr/bin/mail client";
    window->btnBrowsePathToClient.Click();
    EXPECT_EQ(window->txtPathToClient.Text(), u"/usr/bin/mail client");

    chosenFile = u"/home/anna/ding.wav";
    window->btnBrowsePathToSound.Click();
    EXPECT_EQ(window->txtPathToSound.Text(), u"/home/anna/ding.wav");
    EXPECT_EQ(window->txtPathToClient.Text(), u"/usr/bin/mail client");

    chosenFile = std::nullopt;
    window->btnBrowsePathToClient.Click();
    window->btnBrowsePathToSound.Click();
    EXPECT_EQ(window->txtPathToClient.Text(), u"/usr/bin/mail client");
    EXPECT_EQ(window->txtPathToSound.Text(), u"/home/anna/ding.wav");

    ASSERT_EQ(chooserCalls.size(), 4u);
    EXPECT_EQ(chooserCalls[0].filter, window->OpenDialogEXE.Filter());
    EXPECT_EQ(chooserCalls[1].filter, window->OpenDialogWAV.Filter());
    EXPECT_TRUE(window->OpenDialogEXE.ExecutablesOnly());
    EXPECT_FALSE(window->OpenDialogWAV.ExecutablesOnly());
    for (const ChooserCall& call : chooserCalls) {
        EXPECT_EQ(call.initialDir, u"~") << "the home folder";
        EXPECT_EQ(call.title, u"Browse...");
    }
    EXPECT_NE(ReadIniString(u"Main", u"PathToSound", u"-"), u"/home/anna/ding.wav") << "nothing is saved";
}

TEST(OpenDialogFilterTest, PairsBecomeToolkitEntriesWithTheirPatterns) {
    EXPECT_EQ(TOpenDialog::ToolkitFilter(u"EXE Files (*.EXE)|*.EXE|All Files (*)|*"),
              u"EXE Files (*.EXE);;All Files (*)");
    EXPECT_EQ(TOpenDialog::ToolkitFilter(u"Sounds|*.wav;*.au"), u"Sounds (*.wav *.au)");
    EXPECT_EQ(TOpenDialog::ToolkitFilter(u"WAV-filer (*.WAV)|*.WAV|"), u"WAV-filer (*.WAV)");
    EXPECT_EQ(TOpenDialog::ToolkitFilter(u""), u"");
}

// ---- About box ------------------------------------------------------------------------------

TEST_F(SettingsWindowTest, AboutCaptionIsTheWordAndTheTitleInEitherLanguage) {
    CreateWindowIn(u"/ENGLISH");
    EXPECT_EQ(window->mnuMainHelpAbout.ShortCut(), 112); // F1
    window->mnuMainHelpAbout.Click();
    window.reset();
    Application->SetTitle(u"Brevgluggen 1.10");
    CreateWindowIn(u"/SWEDISH");
    window->mnuMainHelpAbout.Click();

    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, u"About Mailhatch 1.10");
    EXPECT_EQ(boxes[1].caption, u"Om Brevgluggen 1.10");
    for (const ShownBox& box : boxes) {
        EXPECT_NE(box.message.find(u"(http"), std::u16string::npos)
            << "the maker's web address in parentheses";
        EXPECT_EQ(box.message.find(u'\n'), std::u16string::npos) << "one line";
    }
    EXPECT_NE(boxes[0].message, boxes[1].message);
}

TEST_F(SettingsWindowTest, AboutBoxWithoutACaptionNamesItselfByLanguage) {
    SetCommandLineArguments({u"/SWEDISH"});
    ShowAboutBox(nullptr, u"text", u"");
    SetCommandLineArguments({u"/ENGLISH"});
    ShowAboutBox(nullptr, u"text", u"");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, u"Om...");
    EXPECT_EQ(boxes[1].caption, u"About...");
}

// ---- Drawing --------------------------------------------------------------------------------

TEST(EtchedColourTest, ChannelsMoveByTheAmountWithinTheirRange) {
    EXPECT_EQ(DarkerColor(RGBColor(240, 240, 240), 40), RGBColor(200, 200, 200));
    EXPECT_EQ(LighterColor(RGBColor(240, 240, 240), 40), RGBColor(255, 255, 255));
    EXPECT_EQ(LighterColor(RGBColor(250, 10, 128), 40), RGBColor(255, 50, 168));
    EXPECT_EQ(DarkerColor(RGBColor(250, 10, 128), 40), RGBColor(210, 0, 88));
}

TEST_F(SettingsWindowTest, SeparatorsAreEtchedAtTheirRowsFrom24To239) {
    CreateWindow();
    ASSERT_EQ(window->ClientWidth(), 557);
    ASSERT_EQ(window->ClientHeight(), 441);
    const TPixelImage image = window->ClientImage();
    ASSERT_EQ(image.Width, 557);
    ASSERT_EQ(image.Height, 441);
    const TColor dark = DarkerColor(window->Color(), 40);
    const TColor light = LighterColor(window->Color(), 40);
    ASSERT_NE(dark, light);
    for (int row : {72, 128, 184, 280, 376}) {
        for (int x : {24, 130, 239}) {
            EXPECT_EQ(image.Color(x, row), dark) << x << "," << row;
            EXPECT_EQ(image.Color(x, row + 1), light) << x << "," << row + 1;
        }
        EXPECT_NE(image.Color(23, row), dark) << row;
        EXPECT_NE(image.Color(240, row), dark) << "the end point is left out, row " << row;
        EXPECT_NE(image.Color(130, row - 1), dark) << row;
    }
}

TEST_F(SettingsWindowTest, ButtonsCarryTheirGlyphsOnATransparentBackground) {
    CreateWindow();
    for (const TBitBtn* button :
         {&window->btnBrowsePathToClient, &window->btnBrowsePathToSound, &window->btnSave}) {
        ASSERT_EQ(button->Glyph().size(), 256u);
        EXPECT_EQ(button->Glyph()[0] >> 24, 0u) << "the magenta corner does not show";
    }
    EXPECT_EQ(window->btnBrowsePathToClient.Glyph(), window->btnBrowsePathToSound.Glyph());
    EXPECT_NE(window->btnBrowsePathToClient.Glyph(), window->btnSave.Glyph());
}

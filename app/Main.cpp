#include "app/Main.h"

#include "shell/HotKey.h"
#include "toolz/FormToolz.h"
#include "toolz/INIToolz.h"
#include "toolz/Toolz.h"

TfrmMain* frmMain = nullptr;

namespace {

constexpr std::u16string_view SettingsSection = u"Main";
constexpr std::u16string_view HotKeyAtomName = u"[CTRL+ALT+F5]";

} // namespace

TfrmMain::TfrmMain() {
    CreateComponents();
    DoCreate();
}

TfrmMain::~TfrmMain() {
    DoDestroy();
}

void TfrmMain::FormCreate(TObject*) {
    LoadSettings();
    ApplyWWWMode();
    ProcessPendingMessages();
    // The first check runs before the hot key exists and before the message loop starts.
    if (SixFieldsFilled())
        CheckMailbox();
    else
        Show();
    hotKeyId_ = GlobalAddAtom(HotKeyAtomName);
    RegisterHotKey(this, hotKeyId_, MOD_ALT | MOD_CONTROL, VK_F5);
}

void TfrmMain::FormDestroy(TObject*) {
    StoreSettings();
    UnregisterHotKey(this, hotKeyId_);
    GlobalDeleteAtom(static_cast<uint16_t>(hotKeyId_ & 0xFFFF));
}

void TfrmMain::TimerMainTimer(TObject*) {
    CheckMailbox();
}

void TfrmMain::HotKeyMessage(TWMHotKey& message) {
    if (message.HotKey == hotKeyId_)
        CheckMailbox();
}

void TfrmMain::mnuMainFileQuitClick(TObject*) {
    Close();
}

void TfrmMain::mnuSettingsClick(TObject*) {
    if (!Visible())
        Show();
    if (WindowState() == wsMinimized)
        SetWindowState(wsNormal);
    Application->BringToFront();
}

void TfrmMain::btnSaveClick(TObject*) {
    StoreSettings();
    if (SixFieldsFilled()) {
        Hide();
        CheckMailbox();
    }
}

// The rest of the WWW reaction (the "http://" prefill and clearing) comes with the settings window.
void TfrmMain::cbWWWClick(TObject*) {
    ApplyWWWMode();
}

// Drawn with the settings window: the separator lines.
void TfrmMain::FormPaint(TObject*) {}
// Come with the settings window: the About box and the file choosers.
void TfrmMain::mnuMainHelpAboutClick(TObject*) {}
void TfrmMain::btnBrowsePathToClientClick(TObject*) {}
void TfrmMain::btnBrowsePathToSoundClick(TObject*) {}
// Comes with the mail program launcher.
void TfrmMain::TrayIconMainDblClick(TObject*) {}

void TfrmMain::LoadSettings() {
    auto loadText = [](TEdit& edit, std::u16string_view key) {
        edit.SetText(ReadIniString(SettingsSection, key, edit.Text()));
    };
    auto loadCredential = [](TEdit& edit, std::u16string_view key) {
        edit.SetText(UnscrambleCredential(ReadIniString(SettingsSection, key, edit.Text())));
    };
    loadText(txtPOP3Server, u"POP3Server");
    loadText(txtPort, u"Port");
    loadCredential(txtUserName, u"UserName");
    loadCredential(txtPassword, u"Password");
    loadText(txtPathToClient, u"PathToClient");
    loadText(txtPathToSound, u"PathToSound");
    // Ticking the box runs cbWWWClick, as a click by the user would.
    cbWWW.SetChecked(ReadIniBool(SettingsSection, u"WWW", false));
}

void TfrmMain::StoreSettings() {
    WriteIniString(SettingsSection, u"POP3Server", txtPOP3Server.Text());
    WriteIniString(SettingsSection, u"Port", txtPort.Text());
    WriteIniString(SettingsSection, u"UserName", ScrambleCredential(txtUserName.Text()));
    WriteIniString(SettingsSection, u"Password", ScrambleCredential(txtPassword.Text()));
    WriteIniString(SettingsSection, u"PathToClient", txtPathToClient.Text());
    WriteIniString(SettingsSection, u"PathToSound", txtPathToSound.Text());
    WriteIniBool(SettingsSection, u"WWW", cbWWW.Checked());
}

bool TfrmMain::SixFieldsFilled() const {
    for (const TEdit* edit :
         {&txtPOP3Server, &txtPort, &txtUserName, &txtPassword, &txtPathToClient, &txtPathToSound})
        if (edit->Text().empty())
            return false;
    return true;
}

void TfrmMain::ApplyWWWMode() {
    const bool webMode = cbWWW.Checked();
    const TUiLanguage language = CurrentUiLanguage();
    lblPathToClient.SetCaption(webMode ? PickLanguageText(language, u"Sökväg till e-postplats: (WWW)",
                                                          u"Path to e-mail place: (WWW)")
                                       : PickLanguageText(language, u"Sökväg till e-postklient: (.EXE)",
                                                          u"Path to e-mail client: (.EXE)"));
    btnBrowsePathToClient.SetEnabled(!webMode);
}

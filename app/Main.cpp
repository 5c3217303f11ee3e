#include "app/Main.h"

#include "app/MainTexts.h"
#include "base/Integers.h"
#include "shell/FilesAndLocale.h"
#include "shell/HotKey.h"
#include "toolz/FormToolz.h"
#include "toolz/INIToolz.h"
#include "toolz/ShellToolz.h"
#include "toolz/StartWithDesktop.h"
#include "toolz/Toolz.h"

TfrmMain* frmMain = nullptr;

namespace {

constexpr std::u16string_view SettingsSection = u"Main";
constexpr std::u16string_view HotKeyAtomName = u"[CTRL+ALT+F5]";
constexpr std::u16string_view WebPrefill = u"http://";

// The default ports of each protocol, plain and with TLS from the first byte, by TMailProtocol.
struct DefaultPorts {
    std::u16string_view plain;
    std::u16string_view tls;
};
constexpr DefaultPorts ProtocolPorts[] = {{u"110", u"995"}, {u"143", u"993"}};

// Whether the port box's text names the protocol's port for TLS from the first byte.
bool IsTLSPort(std::u16string_view portText, TMailProtocol protocol) {
    return IntegerFromText(portText, 0) == IntegerFromText(ProtocolPorts[protocol].tls, 0);
}

// The separators between the groups of the window, as client rows from x = 24 to 239.
constexpr int SeparatorRows[] = {72, 128, 184, 280, 376};
constexpr int SeparatorLeft = 24;
constexpr int SeparatorRight = 240;
constexpr int SeparatorContrast = 40;

// True when the address begins with "http://" or "https://" in any letter case.
bool HasWebScheme(std::u16string_view address) {
    return AsciiLowerCase(address.substr(0, 7)) == u"http://" ||
           AsciiLowerCase(address.substr(0, 8)) == u"https://";
}

} // namespace

TfrmMain::TfrmMain() {
    CreateComponents();
    DoCreate();
}

TfrmMain::~TfrmMain() {
    DoDestroy();
}

void TfrmMain::FormCreate(TObject*) {
    if (CurrentUiLanguage() != ulSwedish)
        ApplyEnglishTexts();
    LoadSettings();
    ShowStartWithDesktop();
    ApplyWWWMode();
    ProcessPendingMessages();
    BuildMailboxes();
    // The first check starts before the hot key exists; it reports once the message loop runs.
    if (SixFieldsFilled())
        CheckMailbox();
    else
        Show();
    hotKeyId_ = GlobalAddAtom(HotKeyAtomName);
    RegisterHotKey(this, hotKeyId_, MOD_ALT | MOD_CONTROL, VK_F5);
}

void TfrmMain::FormDestroy(TObject*) {
    StoreSettings();
    for (const std::unique_ptr<Mailbox>& mailbox : mailboxes_)
        mailbox->StopWatching();
    UnregisterHotKey(this, hotKeyId_);
    GlobalDeleteAtom(static_cast<uint16_t>(hotKeyId_ & 0xFFFF));
}

void TfrmMain::TimerMainTimer(TObject*) {
    CheckMailboxes(true);
}

void TfrmMain::HotKeyMessage(TWMHotKey& message) {
    if (message.HotKey == hotKeyId_)
        CheckMailbox();
}

void TfrmMain::mnuMainFileQuitClick(TObject*) {
    Close();
}

void TfrmMain::mnuSettingsClick(TObject*) {
    if (!Visible()) {
        ShowStartWithDesktop(); // the entry may have changed since the window was last open
        Show();
    }
    if (WindowState() == wsMinimized)
        SetWindowState(wsNormal);
    Application->BringToFront();
}

void TfrmMain::btnSaveClick(TObject*) {
    const TSignInKind before = storedSignInKind_;
    StoreSettings();
    if (before == siOAuth && SignInKind() == siPassword)
        EraseStoredTokens();
    if (!SixFieldsFilled())
        return;
    Hide();
    // OAuth without a stored token: the check follows the sign-in in the browser.
    if (SignInWaiting())
        CheckMailbox();
    else
        SignInOrCheck();
}

void TfrmMain::cbWWWClick(TObject*) {
    ApplyWWWMode();
    ProcessPendingMessages();
    const std::u16string& path = txtPathToClient.Text();
    if (cbWWW.Checked() && path.empty()) {
        txtPathToClient.SetText(WebPrefill);
        ProcessPendingMessages();
    } else if (!cbWWW.Checked() && (path == u"http://" || path == u"https://")) {
        // Only a bare prefix is taken away; an address the user typed stays.
        txtPathToClient.SetText(u"");
        ProcessPendingMessages();
    }
}

void TfrmMain::cbTLSClick(TObject*) {
    if (loadingSettings_)
        return;
    keptUseTLS_.reset();
    const DefaultPorts& ports = ProtocolPorts[Protocol()];
    if (cbTLS.Checked() && txtPort.Text() == ports.plain)
        txtPort.SetText(ports.tls);
    else if (!cbTLS.Checked() && txtPort.Text() == ports.tls)
        txtPort.SetText(ports.plain);
}

void TfrmMain::cmbProtocolChange(TObject*) {
    const DefaultPorts& before = ProtocolPorts[shownProtocol_];
    shownProtocol_ = Protocol();
    const DefaultPorts& now = ProtocolPorts[shownProtocol_];
    if (txtPort.Text() == before.plain)
        txtPort.SetText(now.plain);
    else if (txtPort.Text() == before.tls)
        txtPort.SetText(now.tls);
    // A provider's server and scope differ by protocol.
    if (cbOAuth.Checked())
        FillInPreset();
    ShowServerCaption();
}

void TfrmMain::ShowServerCaption() {
    lblPOP3Server.SetCaption(ServerCaption(CurrentUiLanguage(), Protocol() == mpIMAP));
}

void TfrmMain::cbStartWithDesktopClick(TObject*) {
    if (showingStartState_)
        return;
    try {
        SetStartsWithDesktop(cbStartWithDesktop.Checked());
    } catch (const Exception& failure) {
        ShowInformationBox(this, failure.Message(), Application->Title());
    }
    ShowStartWithDesktop();
}

void TfrmMain::ShowStartWithDesktop() {
    showingStartState_ = true;
    cbStartWithDesktop.SetChecked(StartsWithDesktop());
    showingStartState_ = false;
}

TMailProtocol TfrmMain::Protocol() const {
    return cmbProtocol.ItemIndex() == mpIMAP ? mpIMAP : mpPOP3;
}

TIdUseTLS TfrmMain::UseTLSSetting() const {
    if (!cbTLS.Checked())
        return utNoTLSSupport;
    if (keptUseTLS_ && txtPort.Text() == keptUseTLSPort_)
        return *keptUseTLS_;
    return IsTLSPort(txtPort.Text(), Protocol()) ? utUseImplicitTLS : utUseRequireTLS;
}

// What a file without UseTLS means: plain, except on the protocol's TLS port (995, 993), where
// only TLS can work.
TIdUseTLS TfrmMain::UseTLSDefault() const {
    return IsTLSPort(txtPort.Text(), Protocol()) ? utUseImplicitTLS : utNoTLSSupport;
}

void TfrmMain::FormPaint(TObject*) {
    for (int row : SeparatorRows)
        DrawEtchedLine(this, SeparatorLeft, row, SeparatorRight, row, true, SeparatorContrast);
}

void TfrmMain::mnuMainHelpAboutClick(TObject*) {
    const TUiLanguage language = CurrentUiLanguage();
    ShowAboutBox(this, AboutCreditLine(language), AboutCaptionWord(language) + u" " + Application->Title());
}

void TfrmMain::btnBrowsePathToClientClick(TObject*) {
    BrowseInto(OpenDialogEXE, txtPathToClient);
}

void TfrmMain::btnBrowsePathToSoundClick(TObject*) {
    BrowseInto(OpenDialogWAV, txtPathToSound);
}

void TfrmMain::BrowseInto(TOpenDialog& chooser, TEdit& edit) {
    if (chooser.Execute())
        edit.SetText(chooser.FileName());
}

// Reads the path box as it stands, saved or not. Nothing is reported: a field that names
// nothing to start is passed over.
void TfrmMain::TrayIconMainDblClick(TObject*) {
    const std::u16string path = txtPathToClient.Text();
    if (path.empty())
        return;
    if (cbWWW.Checked()) {
        if (HasWebScheme(path))
            ShellOpen(path);
    } else if (FileExists(path)) {
        RunProgram(path);
    }
}

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
    // Before UseTLS, whose absence means TLS on the protocol's own TLS port.
    LoadProtocol();
    LoadUseTLS();
    cbNotify.SetChecked(ReadIniBool(SettingsSection, u"Notify", true));
    LoadSignInSettings();
    storedSignInKind_ = SignInKind();
    savedSettings_ = SettingsForChecks();
}

// A file without the key, or with a value no protocol has, is POP3.
void TfrmMain::LoadProtocol() {
    const int32_t stored = IntegerFromText(ReadIniString(SettingsSection, u"Protocol", u""), mpPOP3);
    shownProtocol_ = stored == mpIMAP ? mpIMAP : mpPOP3;
    cmbProtocol.SetItemIndex(shownProtocol_);
    ShowServerCaption();
}

void TfrmMain::LoadUseTLS() {
    const int32_t fallback = UseTLSDefault();
    int32_t stored = IntegerFromText(ReadIniString(SettingsSection, u"UseTLS", u""), fallback);
    if (stored < utNoTLSSupport || stored > utUseExplicitTLS)
        stored = fallback;
    loadingSettings_ = true;
    cbTLS.SetChecked(stored != utNoTLSSupport);
    loadingSettings_ = false;
    keptUseTLS_ = static_cast<TIdUseTLS>(stored);
    keptUseTLSPort_ = txtPort.Text();
}

void TfrmMain::StoreSettings() {
    WriteIniString(SettingsSection, u"POP3Server", txtPOP3Server.Text());
    WriteIniString(SettingsSection, u"Port", txtPort.Text());
    WriteIniString(SettingsSection, u"UserName", ScrambleCredential(txtUserName.Text()));
    WriteIniString(SettingsSection, u"Password", ScrambleCredential(txtPassword.Text()));
    WriteIniString(SettingsSection, u"PathToClient", txtPathToClient.Text());
    WriteIniString(SettingsSection, u"PathToSound", txtPathToSound.Text());
    WriteIniBool(SettingsSection, u"WWW", cbWWW.Checked());
    WriteIniOptional(SettingsSection, u"UseTLS", IntToText(UseTLSSetting()), IntToText(UseTLSDefault()));
    StoreSignInSettings();
    storedSignInKind_ = SignInKind();
    WriteIniOptional(SettingsSection, u"Protocol", IntToText(Protocol()), IntToText(mpPOP3));
    WriteIniOptional(SettingsSection, u"Notify", cbNotify.Checked() ? u"1" : u"0", u"1");
    savedSettings_ = SettingsForChecks();
}

bool TfrmMain::SixFieldsFilled() const {
    for (const TEdit* edit :
         {&txtPOP3Server, &txtPort, &txtUserName, &txtPassword, &txtPathToClient, &txtPathToSound})
        if (edit->Text().empty() && !(edit == &txtPassword && SignInKind() == siOAuth))
            return false;
    return true;
}

void TfrmMain::ApplyWWWMode() {
    const bool webMode = cbWWW.Checked();
    lblPathToClient.SetCaption(PathToClientCaption(CurrentUiLanguage(), webMode));
    btnBrowsePathToClient.SetEnabled(!webMode);
}

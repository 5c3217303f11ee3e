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

#include <system_error>
#include <thread>

TfrmMain* frmMain = nullptr;

namespace {

constexpr std::u16string_view HotKeyAtomName = u"[CTRL+ALT+F5]";
constexpr std::u16string_view WebPrefill = u"http://";

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
    if (!ShowIncompleteMailbox())
        CheckMailbox();
    else
        Show();
    hotKeyId_ = GlobalAddAtom(HotKeyAtomName);
    RegisterHotKey(this, hotKeyId_, MOD_ALT | MOD_CONTROL, VK_F5);
}

void TfrmMain::FormDestroy(TObject*) {
    StoreSettings();
    // Each watched connection says goodbye on a thread of its own: quitting waits for the
    // slowest server's goodbye, not for the sum of them.
    std::vector<std::thread> goodbyes;
    for (const std::unique_ptr<Mailbox>& mailbox : mailboxes_)
        if (std::function<void()> goodbye = mailbox->TakeGoodbye()) {
            try {
                goodbyes.emplace_back(goodbye);
            } catch (const std::system_error&) {
                goodbye(); // no thread to be had: said here, one after the other
            }
        }
    for (std::thread& goodbye : goodbyes)
        goodbye.join();
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
    // A mailbox without its six fields keeps the window open, showing that mailbox.
    if (ShowIncompleteMailbox())
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
    return DefaultUseTLS(Protocol(), txtPort.Text()) == utUseImplicitTLS ? utUseImplicitTLS : utUseRequireTLS;
}

// What a file without UseTLS means: plain, except on the protocol's TLS port (995, 993), where
// only TLS can work.
TIdUseTLS TfrmMain::UseTLSDefault() const {
    return DefaultUseTLS(Protocol(), txtPort.Text());
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
    savedSettings_ = ReadSettingsFile();
    editedSettings_ = savedSettings_;
    const SharedSettings& shared = savedSettings_.shared;
    txtPathToClient.SetText(shared.pathToClient);
    txtPathToSound.SetText(shared.pathToSound);
    // Ticking the box runs cbWWWClick, as a click by the user would.
    cbWWW.SetChecked(shared.www);
    ShowMailbox(0);
}

void TfrmMain::ShowMailbox(size_t index) {
    shownMailbox_ = index;
    const MailboxSettings& mailbox = editedSettings_.mailboxes[index];
    txtMailboxName.SetText(mailbox.name);
    txtPOP3Server.SetText(mailbox.server);
    txtPort.SetText(mailbox.port);
    txtUserName.SetText(mailbox.userName);
    txtPassword.SetText(mailbox.password);
    // Before UseTLS, whose default depends on the protocol's TLS port.
    ShowProtocol(mailbox.protocol);
    ShowUseTLS(mailbox.useTLS);
    cbNotify.SetChecked(mailbox.notify);
    LoadSignInSettings(mailbox);
    storedSignInKind_ =
        index < savedSettings_.mailboxes.size() ? savedSettings_.mailboxes[index].signIn : siPassword;
    ShowMailboxChoices();
}

void TfrmMain::ShowProtocol(TMailProtocol protocol) {
    shownProtocol_ = protocol;
    cmbProtocol.SetItemIndex(shownProtocol_);
    ShowServerCaption();
}

// The box shows whether TLS is used at all; the mode itself is kept as the file has it while the
// box and the port stay as they are.
void TfrmMain::ShowUseTLS(TIdUseTLS useTLS) {
    loadingSettings_ = true;
    cbTLS.SetChecked(useTLS != utNoTLSSupport);
    loadingSettings_ = false;
    keptUseTLS_ = useTLS;
    keptUseTLSPort_ = txtPort.Text();
}

MailboxSettings TfrmMain::MailboxInBoxes() const {
    MailboxSettings mailbox;
    mailbox.name = txtMailboxName.Text();
    mailbox.server = txtPOP3Server.Text();
    mailbox.port = txtPort.Text();
    mailbox.userName = txtUserName.Text();
    mailbox.password = txtPassword.Text();
    mailbox.protocol = Protocol();
    mailbox.useTLS = UseTLSSetting();
    mailbox.notify = cbNotify.Checked();
    StoreSignInSettings(mailbox);
    return mailbox;
}

SettingsFile TfrmMain::EditedSettings() const {
    SettingsFile settings = editedSettings_;
    settings.shared = {txtPathToClient.Text(), txtPathToSound.Text(), cbWWW.Checked()};
    settings.mailboxes[shownMailbox_] = MailboxInBoxes();
    return settings;
}

void TfrmMain::TakeShownMailbox() {
    editedSettings_ = EditedSettings();
}

void TfrmMain::StoreSettings() {
    TakeShownMailbox();
    WriteSettingsFile(editedSettings_);
    savedSettings_ = editedSettings_;
    storedSignInKind_ = SignInKind();
}

void TfrmMain::ShowMailboxChoices() {
    std::vector<std::u16string> names;
    for (size_t index = 0; index < editedSettings_.mailboxes.size(); ++index) {
        const MailboxSettings& mailbox =
            index == shownMailbox_ ? MailboxInBoxes() : editedSettings_.mailboxes[index];
        names.push_back(MailboxDisplayName(mailbox, index, CurrentUiLanguage()));
    }
    cmbMailbox.SetItems(std::move(names));
    cmbMailbox.SetItemIndex(static_cast<int>(shownMailbox_));
    btnRemoveMailbox.SetEnabled(editedSettings_.mailboxes.size() > 1);
}

void TfrmMain::cmbMailboxChange(TObject*) {
    const int picked = cmbMailbox.ItemIndex();
    if (picked < 0 || static_cast<size_t>(picked) == shownMailbox_)
        return;
    TakeShownMailbox();
    ShowMailbox(static_cast<size_t>(picked));
}

void TfrmMain::btnAddMailboxClick(TObject*) {
    TakeShownMailbox();
    editedSettings_.mailboxes.emplace_back();
    ShowMailbox(editedSettings_.mailboxes.size() - 1);
}

void TfrmMain::btnRemoveMailboxClick(TObject*) {
    if (editedSettings_.mailboxes.size() < 2)
        return;
    TakeShownMailbox(); // the shared boxes
    editedSettings_.mailboxes.erase(editedSettings_.mailboxes.begin() +
                                    static_cast<std::ptrdiff_t>(shownMailbox_));
    ShowMailbox(std::min(shownMailbox_, editedSettings_.mailboxes.size() - 1));
}

bool TfrmMain::SixFieldsFilled() const {
    const SettingsFile settings = EditedSettings();
    for (const MailboxSettings& mailbox : settings.mailboxes)
        if (!MailboxComplete(mailbox, settings.shared))
            return false;
    return true;
}

bool TfrmMain::ShowIncompleteMailbox() {
    TakeShownMailbox();
    const SettingsFile& settings = editedSettings_;
    for (size_t index = 0; index < settings.mailboxes.size(); ++index)
        if (!MailboxComplete(settings.mailboxes[index], settings.shared)) {
            if (index != shownMailbox_)
                ShowMailbox(index);
            return true;
        }
    return false;
}

void TfrmMain::ApplyWWWMode() {
    const bool webMode = cbWWW.Checked();
    lblPathToClient.SetCaption(PathToClientCaption(CurrentUiLanguage(), webMode));
    btnBrowsePathToClient.SetEnabled(!webMode);
}

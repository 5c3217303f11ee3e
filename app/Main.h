#pragma once
// The main window: settings window, owner of the tray icon, the timer and the mailboxes.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AnnouncedMessages.h"
#include "app/BackgroundTokens.h"
#include "app/Mailbox.h"
#include "app/MailboxSettings.h"
#include "shell/Application.h"
#include "shell/Controls.h"
#include "shell/Dialogs.h"
#include "shell/ImageList.h"
#include "shell/Menus.h"
#include "shell/Timer.h"
#include "shell/TrayIcon.h"
#include "shell/Window.h"
#include "signin/OAuthSignIn.h"

class TfrmMain : public TForm {
public:
    // Builds every component with its layout and bindings, adds the tray icon (raising
    // Exception "Cannot create shell notification icon" when there is no notification area),
    // then runs FormCreate.
    TfrmMain();
    // Runs FormDestroy, then frees the components.
    ~TfrmMain() override;

    // Components, in the order of the form definition.
    TMainMenu mnuMain{this};
    TMenuItem mnuMainFile;
    TMenuItem mnuMainFileQuit;
    TMenuItem mnuMainHelp;
    TMenuItem mnuMainHelpAbout;
    TLabel lblPOP3Server{this};
    TEdit txtPOP3Server{this};
    TLabel lblPort{this};
    TEdit txtPort{this};
    TLabel lblUserName{this};
    TEdit txtUserName{this};
    TLabel lblPassword{this};
    TEdit txtPassword{this};
    TLabel lblPathToClient{this};
    TEdit txtPathToClient{this};
    TBitBtn btnBrowsePathToClient{this};
    TOpenDialog OpenDialogEXE{this};
    TOpenDialog OpenDialogWAV{this};
    TLabel lblPathToSound{this};
    TEdit txtPathToSound{this};
    TBitBtn btnBrowsePathToSound{this};
    TBitBtn btnSave{this};
    TTrayIcon TrayIconMain;
    TImageList ilTrayIcons{16, 16};
    TTimer TimerMain;
    TPopupMenu PopupMenuMain;
    TMenuItem mnuSettings;
    TCheckBox cbWWW{this};
    TCheckBox cbTLS{this};
    TLabel lblProtocol{this};
    TComboBox cmbProtocol{this};
    TCheckBox cbNotify{this};
    // The sign-in group, right-hand column.
    TCheckBox cbOAuth{this};
    TLabel lblOAuthProvider{this};
    TComboBox cmbOAuthProvider{this};
    TLabel lblOAuthClientId{this};
    TEdit txtOAuthClientId{this};
    TLabel lblOAuthClientSecret{this};
    TEdit txtOAuthClientSecret{this};
    TLabel lblOAuthAuthorizeUrl{this};
    TEdit txtOAuthAuthorizeUrl{this};
    TLabel lblOAuthTokenUrl{this};
    TEdit txtOAuthTokenUrl{this};
    TLabel lblOAuthScope{this};
    TEdit txtOAuthScope{this};
    TBitBtn btnSignIn{this};
    TBitBtn btnSignOut{this};
    TLabel lblSignInState{this};
    TLabel lblTokenPlace{this};
    // Polls the redirect listener while a sign-in waits for the browser.
    TTimer TimerSignIn;
    // Once: the check put off until the POP3 server's least time between sign-ins has passed.
    TTimer TimerLoginDelay;
    // Shows and sets whether the program starts with the desktop session (not kept in the file).
    TCheckBox cbStartWithDesktop{this};
    // The mailbox chooser, top of the right-hand column: the mailbox the boxes edit, its name.
    TComboBox cmbMailbox{this};
    TBitBtn btnAddMailbox{this};
    TBitBtn btnRemoveMailbox{this};
    TLabel lblMailboxName{this};
    TEdit txtMailboxName{this};

    // Event handlers, bound by the form definition.
    void FormCreate(TObject* sender);
    void FormDestroy(TObject* sender);
    void FormPaint(TObject* sender);
    void TimerMainTimer(TObject* sender);
    void mnuMainFileQuitClick(TObject* sender);
    void mnuMainHelpAboutClick(TObject* sender);
    void mnuSettingsClick(TObject* sender);
    void btnBrowsePathToClientClick(TObject* sender);
    void btnBrowsePathToSoundClick(TObject* sender);
    void btnSaveClick(TObject* sender);
    void cbWWWClick(TObject* sender);
    // A click on the TLS box: the port moves between the plain and the TLS default ("110" and
    // "995"), and the UseTLS the file gave ends.
    void cbTLSClick(TObject* sender);
    // The user picked another protocol: a port that holds the old protocol's default moves to
    // the new one's ("110" and "143", "995" and "993").
    void cmbProtocolChange(TObject* sender);
    void TrayIconMainDblClick(TObject* sender);
    // The sign-in group: the way of signing in, the provider (a preset fills server and port
    // when they are empty), "Sign in…" (starts a sign-in in the browser, giving up one that
    // waits), "Sign out" (forgets and erases the tokens) and the poll of a waiting sign-in.
    void cbOAuthClick(TObject* sender);
    void cmbOAuthProviderChange(TObject* sender);
    void btnSignInClick(TObject* sender);
    void btnSignOutClick(TObject* sender);
    void TimerSignInTimer(TObject* sender);
    void TimerLoginDelayTimer(TObject* sender);
    // The chooser: the boxes show the mailbox picked, keeping the edits of the one shown before;
    // Add appends an empty mailbox and shows it; Remove drops the shown one (Save writes).
    void cmbMailboxChange(TObject* sender);
    void btnAddMailboxClick(TObject* sender);
    void btnRemoveMailboxClick(TObject* sender);
    // Writes or removes the entry that starts the program with the desktop session; the box then
    // shows what is in place, and a failure is shown in a box.
    void cbStartWithDesktopClick(TObject* sender);
    // The global hot key Ctrl+Alt+F5: checks when the message carries HotKeyId.
    void HotKeyMessage(TWMHotKey& message);

    // The settings between the settings file and the controls: every mailbox, the shown one in
    // the boxes, and the settings they share.
    void LoadSettings();
    void StoreSettings();
    // Every mailbox as the window holds them, the shown one as its boxes stand.
    SettingsFile EditedSettings() const;
    // The index of the mailbox the boxes show.
    size_t ShownMailbox() const { return shownMailbox_; }
    // What the TLS box and the port stand for: none when the box is clear; when ticked,
    // implicit TLS on the protocol's TLS port (995, 993) and its TLS command required on any
    // other, unless the file holds a UseTLS of its own and neither the box nor the port has been
    // changed since.
    TIdUseTLS UseTLSSetting() const;
    TMailProtocol Protocol() const;
    TSignInKind SignInKind() const { return cbOAuth.Checked() ? siOAuth : siPassword; }
    TOAuthProvider OAuthProvider() const;
    // The sign-in as the group describes it: the provider's preset or the custom addresses.
    OAuthClient CurrentOAuthClient() const;
    // The shown provider's preset for the shown protocol; nothing for a custom provider.
    std::optional<OAuthProviderConfig> ShownPreset() const;
    // The tokens of the current settings, made anew when they changed (which gives up a sign-in
    // still waiting, and drops the reports of the old tokens' work).
    BackgroundTokens& Tokens();
    // The sign-in in the browser, while one runs or has ended.
    OAuthSignIn* SignInInProgress() const { return signIn_.get(); }
    // Waiting for the browser, or for the exchange of its code.
    bool SignInWaiting() const {
        return signIn_ && (signIn_->Current() == OAuthSignIn::State::Waiting ||
                           signIn_->Current() == OAuthSignIn::State::Exchanging);
    }
    // Work on the tokens (keyring, token endpoint), or a check, has not reported yet.
    bool TokenWorkRunning() const { return (tokens_ && tokens_->Busy()) || ChecksRunning(); }
    // A mailbox's check, or the work on its token, has not reported yet.
    bool ChecksRunning() const;
    // The mailboxes the checks use, as built from savedSettings_ at the last check.
    const std::vector<std::unique_ptr<Mailbox>>& Mailboxes() const { return mailboxes_; }

    // What the settings file holds as of the last load or save: the mailboxes the checks use.
    SettingsFile savedSettings_;

    int32_t HotKeyId() const { return hotKeyId_; }

private:
    void CreateComponents();
    void PlaceControls();
    void BuildMenus();
    void PlaceFileChoosers();
    void BindEvents();
    // Replaces the Swedish captions of the layout with the English ones, title first.
    void ApplyEnglishTexts();

    // True when every mailbox has its six fields filled (the shown one as its boxes stand); with
    // OAuth sign-in the password is not needed.
    bool SixFieldsFilled() const;
    // Shows the first mailbox whose six fields are not all filled; false when there is none.
    bool ShowIncompleteMailbox();
    // The shown mailbox as the boxes hold it.
    MailboxSettings MailboxInBoxes() const;
    // Puts the boxes' values into the edited mailbox and the shared settings.
    void TakeShownMailbox();
    // Puts a mailbox of the edited settings into the boxes, as loaded from the file.
    void ShowMailbox(size_t index);
    // The chooser's names, its choice, and Remove only while there is more than one mailbox.
    void ShowMailboxChoices();
    void ApplyWWWMode();
    void ShowUseTLS(TIdUseTLS useTLS);
    TIdUseTLS UseTLSDefault() const;
    void ShowProtocol(TMailProtocol protocol);
    // Runs the chooser and puts the confirmed file's path into the edit box.
    void BrowseInto(TOpenDialog& chooser, TEdit& edit);
    // The column right of the controls above: captions, lists and tab order once, then the rows
    // the current choices use, top to bottom, the others hidden.
    void PlaceSettingsColumn();
    void ArrangeSettingsColumn();
    // The server label names the protocol chosen.
    void ShowServerCaption();
    // Ticks the box as the desktop session stands, without writing anything.
    void ShowStartWithDesktop();
    // "Sign in…" acts only with OAuth chosen and a client to sign in with.
    void EnableSignIn();
    // The sign-in group from and to a mailbox's settings.
    void LoadSignInSettings(const MailboxSettings& mailbox);
    void StoreSignInSettings(MailboxSettings& mailbox) const;
    // Enables the group's fields that the way of signing in and the provider use.
    void ApplySignInMode();
    void FillInPreset();
    void ShowSignInState();
    // Starts a sign-in in the browser; a failure to start is shown as the sign-in's failure.
    void StartSignIn();
    // The sign-in in the browser has signed in or failed: the window and the tray say so, and a
    // check follows a sign-in.
    void SignInEnded();
    // Forgets the tokens and erases the stored one from every store (in the background).
    void EraseStoredTokens();
    // With OAuth, reads (in the background) whether a token is stored, then signs in in the
    // browser when none is, or checks; with a password, checks.
    void SignInOrCheck();
    // Checks every mailbox whose settings are complete (rebuilding the mailboxes first when
    // savedSettings_ changed), unless the window shows; while a mailbox's watch idles, a count on
    // its connection instead.
    void CheckMailbox();
    // byTimer: the periodic check, which leaves a reconnecting watch to its own pauses.
    void CheckMailboxes(bool byTimer);
    // The mailboxes as savedSettings_ describe them; one whose settings did not change is kept
    // as it is (its count, its watch, its tokens).
    void BuildMailboxes();
    Mailbox::Events MailboxEvents();
    bool MayCheck(const Mailbox& mailbox) const;
    // The mailbox of the checks at this place in the list (the last one beyond it).
    Mailbox& MailboxInChecks(size_t index);
    // A mailbox's check ended: the tray's image and tip, and when its count grew the sound and
    // its notice.
    void MailboxChecked(Mailbox& mailbox, int32_t previous, const std::vector<NewMessageHeader>& newHeaders);
    // Arms TimerLoginDelay for the first mailbox whose check is put off.
    void ArmLoginDelay();
    // The notice of `arrived` new messages in the mailbox, naming those of `newest` that no
    // notice named before; none when all of them were named before.
    void ShowNewMailNotice(const Mailbox& mailbox, int64_t arrived,
                           const std::vector<NewMessageHeader>& newest);
    // The tray's image and tip from every mailbox's last check.
    void ShowTrayState();

    int32_t hotKeyId_ = 0;
    // Set while the settings are loaded: the TLS box is then set, not clicked.
    bool loadingSettings_ = false;
    // Set while the start box shows the state found: it is then set, not clicked.
    bool showingStartState_ = false;
    // The file's UseTLS, kept as it stands while the box and the port are as they were loaded.
    std::optional<TIdUseTLS> keptUseTLS_;
    std::u16string keptUseTLSPort_;
    // The protocol before the user's latest pick, whose default ports the port may hold.
    TMailProtocol shownProtocol_ = mpPOP3;
    std::unique_ptr<BackgroundTokens> tokens_;
    std::u16string tokensKey_;
    std::unique_ptr<OAuthSignIn> signIn_;
    // Why the last sign-in in the browser failed, shown in the tip until the next one.
    std::u16string signInError_;
    // The way of signing in the settings file holds for the shown mailbox.
    TSignInKind storedSignInKind_ = siPassword;
    // Every mailbox as edited in the window; the shown one's entry is brought up to date from the
    // boxes when another is chosen and when the settings are stored.
    SettingsFile editedSettings_;
    size_t shownMailbox_ = 0;
    AnnouncedMessages announced_{AnnouncedMessages::DefaultFile()};
    std::vector<std::unique_ptr<Mailbox>> mailboxes_;
};

extern TfrmMain* frmMain;

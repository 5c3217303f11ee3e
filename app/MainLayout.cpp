// The form definition of the main window: every component with its layout, captions and bindings.

#include "app/ButtonGlyphs.h"
#include "app/Main.h"
#include "app/TrayImages.h"

void TfrmMain::CreateComponents() {
    SetCaption(Application->Title());
    SetClientSize(505, 489);
    SetBorderStyle(bsSingle);
    SetCenteredOnScreen(true);
    SetFont(u"Verdana", 11);
    PlaceControls();
    PlaceFileChoosers();
    BuildMenus();

    ilTrayIcons.Add(EmptyMailSlotImage());
    ilTrayIcons.Add(LetterInMailSlotImage());
    ilTrayIcons.Add(TroubleAtMailSlotImage());
    TrayIconMain.SetIcons(&ilTrayIcons);
    TrayIconMain.SetPopupMenu(&PopupMenuMain);
    TrayIconMain.SetVisible(true);

    POP3Main = std::make_unique<TIdPOP3>();
    POP3Main->SetAutoLogin(true);
    IMAPMain = std::make_unique<ImapClient>();
    WatchMain = std::make_unique<MailboxWatch>(
        *IMAPMain,
        [this](int32_t count, const std::vector<std::string>& headers) { WatchCounted(count, headers); },
        [this](int32_t count) { return NoticeHeadersWanted(count); }, [this] { CheckMailbox(); });
    TimerMain.SetInterval(60000);
    TimerMain.SetEnabled(true);
    BindEvents();
}

void TfrmMain::PlaceControls() {
    auto placeLabel = [](TLabel& label, int left, int top, int width, std::u16string_view caption) {
        label.SetBounds(left, top, width, 13);
        label.SetCaption(caption);
    };
    auto placeEdit = [](TEdit& edit, int left, int top, int width, int tabOrder) {
        edit.SetBounds(left, top, width, 23);
        edit.SetTabOrder(tabOrder);
        edit.SetFont(u"Fixedsys", 12);
    };
    auto placeButton = [](TBitBtn& button, int top, int tabOrder, std::u16string_view caption,
                          const std::vector<uint32_t>& glyph) {
        button.SetBounds(144, top, 97, 33);
        button.SetTabOrder(tabOrder);
        button.SetCaption(caption);
        button.SetGlyph(glyph);
    };
    placeLabel(lblPOP3Server, 24, 24, 77, u"POP3-server:");
    placeEdit(txtPOP3Server, 24, 40, 153, 0);
    placeLabel(lblPort, 184, 24, 28, u"Port:");
    placeEdit(txtPort, 184, 40, 57, 1);
    txtPort.SetNumbersOnly(true);
    txtPort.SetText(u"110");
    placeLabel(lblUserName, 24, 80, 92, u"Användarnamn:");
    placeEdit(txtUserName, 24, 96, 217, 2);
    placeLabel(lblPassword, 24, 136, 57, u"Lösenord:");
    placeEdit(txtPassword, 24, 152, 217, 3);
    txtPassword.SetPasswordChar(u'*');
    placeLabel(lblPathToClient, 24, 192, 176, u"Sökväg till e-postklient: (.EXE)");
    placeEdit(txtPathToClient, 24, 208, 217, 4);
    placeButton(btnBrowsePathToClient, 240, 5, u"Bläddra...", OpenFolderGlyph());
    cbWWW.SetBounds(24, 240, 113, 17);
    cbWWW.SetTabOrder(6);
    cbWWW.SetCaption(u"WWW");
    placeLabel(lblPathToSound, 24, 288, 145, u"Sökväg till ljudfil: (.WAV)");
    placeEdit(txtPathToSound, 24, 304, 217, 7);
    placeButton(btnBrowsePathToSound, 336, 8, u"Bläddra...", OpenFolderGlyph());
    placeButton(btnSave, 384, 9, u"&Spara!", FloppyDiskGlyph());
    btnSave.SetDefault(true);
    // Left of Save, as the WWW box is left of its Browse button; after Save in the tab order.
    cbTLS.SetBounds(24, 392, 113, 17);
    cbTLS.SetTabOrder(10);
    cbTLS.SetCaption(u"Använd TLS");
    placeLabel(lblProtocol, 24, 436, 57, u"Protokoll:");
    cmbProtocol.SetBounds(88, 432, 153, 23);
    cmbProtocol.SetTabOrder(11);
    cmbProtocol.SetItems({u"POP3", u"IMAP"});
    cmbProtocol.SetItemIndex(mpPOP3);
    cbNotify.SetBounds(24, 464, 217, 17);
    cbNotify.SetTabOrder(12);
    cbNotify.SetCaption(u"Visa notis om ny e-post");
    cbNotify.SetChecked(true);
    PlaceSignInGroup();
}

// The right-hand column: how the check signs in, and the OAuth sign-in with its provider.
void TfrmMain::PlaceSignInGroup() {
    constexpr int left = 264;
    constexpr int width = 217;
    int tabOrder = 13;
    cbOAuth.SetBounds(left, 24, width, 17);
    cbOAuth.SetTabOrder(tabOrder++);
    cbOAuth.SetCaption(u"Logga in med OAuth 2.0");
    lblOAuthProvider.SetBounds(left, 56, width, 13);
    lblOAuthProvider.SetCaption(u"Leverant\u00f6r:");
    cmbOAuthProvider.SetBounds(left, 72, width, 23);
    cmbOAuthProvider.SetTabOrder(tabOrder++);
    cmbOAuthProvider.SetItems({u"Microsoft", u"Google", u"Egen"});
    cmbOAuthProvider.SetItemIndex(opMicrosoft);
    const struct {
        TLabel& label;
        TEdit& edit;
        std::u16string_view caption;
    } fields[] = {
        {lblOAuthClientId, txtOAuthClientId, u"Klient-ID:"},
        {lblOAuthClientSecret, txtOAuthClientSecret, u"Klienthemlighet (valfri):"},
        {lblOAuthAuthorizeUrl, txtOAuthAuthorizeUrl, u"Inloggningsadress:"},
        {lblOAuthTokenUrl, txtOAuthTokenUrl, u"Tokenadress:"},
        {lblOAuthScope, txtOAuthScope, u"Beh\u00f6righet (scope):"},
    };
    int top = 104;
    for (const auto& field : fields) {
        field.label.SetBounds(left, top, width, 13);
        field.label.SetCaption(field.caption);
        field.edit.SetBounds(left, top + 16, width, 23);
        field.edit.SetTabOrder(tabOrder++);
        top += 48;
    }
    txtOAuthClientSecret.SetPasswordChar(u'*');
    btnSignIn.SetBounds(left, 352, 105, 33);
    btnSignIn.SetTabOrder(tabOrder++);
    btnSignIn.SetCaption(u"Logga in\u2026");
    btnSignOut.SetBounds(left + 112, 352, 105, 33);
    btnSignOut.SetTabOrder(tabOrder++);
    btnSignOut.SetCaption(u"Logga ut");
    lblSignInState.SetBounds(left, 396, width, 13);
    lblTokenPlace.SetBounds(left, 416, width, 13);
    TimerSignIn.SetInterval(100);
    TimerSignIn.SetEnabled(false);
}

// Both choosers start in the root folder ("C:\" on Windows). Programs on a Linux desktop have no
// ".EXE": there the program chooser offers every file as well.
void TfrmMain::PlaceFileChoosers() {
#ifdef _WIN32
    constexpr std::u16string_view Root = u"C:\\";
    OpenDialogEXE.SetFilter(u"EXE-filer (*.EXE)|*.EXE");
#else
    constexpr std::u16string_view Root = u"/";
    OpenDialogEXE.SetFilter(u"EXE-filer (*.EXE)|*.EXE|Alla filer (*)|*");
#endif
    OpenDialogEXE.SetInitialDir(Root);
    OpenDialogEXE.SetTitle(u"Bläddra...");
    OpenDialogWAV.SetFilter(u"WAV-filer (*.WAV)|*.WAV");
    OpenDialogWAV.SetInitialDir(Root);
    OpenDialogWAV.SetTitle(u"Bläddra...");
}

void TfrmMain::BuildMenus() {
    mnuMainFile.SetCaption(u"&Arkiv");
    mnuMainFileQuit.SetCaption(u"&Avsluta!");
    mnuMainFileQuit.SetShortCut(scCtrl | 'Q');
    mnuMainHelp.SetCaption(u"&Hjälp");
    mnuMainHelpAbout.SetCaption(u"&Om...");
    mnuMainHelpAbout.SetShortCut(112); // F1
    mnuMain.Add(&mnuMainFile);
    mnuMainFile.Add(&mnuMainFileQuit);
    mnuMain.Add(&mnuMainHelp);
    mnuMainHelp.Add(&mnuMainHelpAbout);
    mnuSettings.SetCaption(u"&Inställningar...");
    PopupMenuMain.Add(&mnuSettings);
}

void TfrmMain::BindEvents() {
    SetOnCreate(MethodEvent(this, &TfrmMain::FormCreate));
    SetOnDestroy(MethodEvent(this, &TfrmMain::FormDestroy));
    SetOnPaint(MethodEvent(this, &TfrmMain::FormPaint));
    SetOnHotKey([this](TWMHotKey& message) { HotKeyMessage(message); });
    TimerMain.SetOnTimer(MethodEvent(this, &TfrmMain::TimerMainTimer));
    mnuMainFileQuit.SetOnClick(MethodEvent(this, &TfrmMain::mnuMainFileQuitClick));
    mnuMainHelpAbout.SetOnClick(MethodEvent(this, &TfrmMain::mnuMainHelpAboutClick));
    mnuSettings.SetOnClick(MethodEvent(this, &TfrmMain::mnuSettingsClick));
    btnBrowsePathToClient.SetOnClick(MethodEvent(this, &TfrmMain::btnBrowsePathToClientClick));
    btnBrowsePathToSound.SetOnClick(MethodEvent(this, &TfrmMain::btnBrowsePathToSoundClick));
    btnSave.SetOnClick(MethodEvent(this, &TfrmMain::btnSaveClick));
    cbWWW.SetOnClick(MethodEvent(this, &TfrmMain::cbWWWClick));
    cbTLS.SetOnClick(MethodEvent(this, &TfrmMain::cbTLSClick));
    cmbProtocol.SetOnChange(MethodEvent(this, &TfrmMain::cmbProtocolChange));
    TrayIconMain.SetOnDblClick(MethodEvent(this, &TfrmMain::TrayIconMainDblClick));
    cbOAuth.SetOnClick(MethodEvent(this, &TfrmMain::cbOAuthClick));
    cmbOAuthProvider.SetOnChange(MethodEvent(this, &TfrmMain::cmbOAuthProviderChange));
    btnSignIn.SetOnClick(MethodEvent(this, &TfrmMain::btnSignInClick));
    btnSignOut.SetOnClick(MethodEvent(this, &TfrmMain::btnSignOutClick));
    TimerSignIn.SetOnTimer(MethodEvent(this, &TfrmMain::TimerSignInTimer));
    // A click on the notice takes the user to the mail as a double click on the icon does.
    TrayIconMain.SetOnNoticeClick(MethodEvent(this, &TfrmMain::TrayIconMainDblClick));
}

// The form definition of the main window: every component with its layout, captions and bindings.

#include "app/ButtonGlyphs.h"
#include "app/Main.h"
#include "app/TrayImages.h"

void TfrmMain::CreateComponents() {
    SetCaption(Application->Title());
    SetClientSize(557, 441);
    SetBorderStyle(bsSingle);
    SetCenteredOnScreen(true);
    SetFont(u"Verdana", 11);
    PlaceControls();
    PlaceFileChoosers();
    BuildMenus();

    ilTrayIcons.Add(EmptyMailSlotImage());
    ilTrayIcons.Add(LetterInMailSlotImage());
    ilTrayIcons.Add(TroubleAtMailSlotImage());
    SetIcon(ilTrayIcons, tiMailWaiting);
    TrayIconMain.SetIcons(&ilTrayIcons);
    TrayIconMain.SetPopupMenu(&PopupMenuMain);
    TrayIconMain.SetVisible(true);

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
    PlaceSettingsColumn();
}

namespace {

// The column right of the controls above: labels left, their boxes and lists right of them.
constexpr int ColumnLeft = 264;
constexpr int ColumnWidth = 269;
constexpr int FieldLeft = 380;
constexpr int FieldWidth = 153;
constexpr int RowPitch = 26;      // a box or list of 23 pixels and the room below it
constexpr int CheckBoxPitch = 22; // a check box of 17 pixels and the room below it
constexpr int GroupGap = 8;       // between the groups: mailbox, connect, sign in, show
// The chooser's row: the list, then Add and Remove.
constexpr int ChooserButtonWidth = 64;
constexpr int ChooserGap = 5;
// The protocol's row: its label, a list just wide enough for the names, the TLS box.
constexpr int ProtocolListWidth = 58;

} // namespace

void TfrmMain::PlaceSettingsColumn() {
    int tabOrder = 10; // after Save
    auto take = [&tabOrder](TControl& control) { control.SetTabOrder(tabOrder++); };
    take(cmbMailbox);
    take(btnAddMailbox);
    btnAddMailbox.SetCaption(u"L\u00e4gg till");
    take(btnRemoveMailbox);
    btnRemoveMailbox.SetCaption(u"Ta bort");
    lblMailboxName.SetCaption(u"Namn:");
    take(txtMailboxName);
    // The chooser names the mailbox as typed (without a name, by its user name).
    txtMailboxName.SetOnChange([this](TObject*) { ShowMailboxChoices(); });
    txtUserName.SetOnChange([this](TObject*) { ShowMailboxChoices(); });
    lblProtocol.SetCaption(u"Protokoll:");
    take(cmbProtocol);
    cmbProtocol.SetItems({u"POP3", u"IMAP"});
    cmbProtocol.SetItemIndex(mpPOP3);
    take(cbTLS);
    cbTLS.SetCaption(u"Anv\u00e4nd TLS");

    take(cbOAuth);
    cbOAuth.SetCaption(u"Logga in med OAuth 2.0");
    lblOAuthProvider.SetCaption(u"Leverant\u00f6r:");
    take(cmbOAuthProvider);
    cmbOAuthProvider.SetItems({u"Microsoft", u"Google", u"Egen"});
    cmbOAuthProvider.SetItemIndex(opMicrosoft);
    const struct {
        TLabel& label;
        TEdit& edit;
        std::u16string_view caption;
    } fields[] = {
        {lblOAuthClientId, txtOAuthClientId, u"Klient-ID:"},
        {lblOAuthClientSecret, txtOAuthClientSecret, u"Klienthemlighet:"},
        {lblOAuthAuthorizeUrl, txtOAuthAuthorizeUrl, u"Inloggningsadress:"},
        {lblOAuthTokenUrl, txtOAuthTokenUrl, u"Tokenadress:"},
        {lblOAuthScope, txtOAuthScope, u"Beh\u00f6righet (scope):"},
    };
    for (const auto& field : fields) {
        field.label.SetCaption(field.caption);
        take(field.edit);
        field.edit.SetOnChange([this](TObject*) { EnableSignIn(); });
    }
    txtOAuthClientSecret.SetPasswordChar(u'*');
    take(btnSignIn);
    btnSignIn.SetCaption(u"Logga in\u2026");
    take(btnSignOut);
    btnSignOut.SetCaption(u"Logga ut");
    lblSignInState.SetElidedInMiddle(true);
    lblTokenPlace.SetElidedInMiddle(true);
    TimerSignIn.SetInterval(100);
    TimerSignIn.SetEnabled(false);

    take(cbNotify);
    cbNotify.SetCaption(u"Visa notis om ny e-post");
    cbNotify.SetChecked(true);
    take(cbStartWithDesktop);
    cbStartWithDesktop.SetCaption(u"Starta med skrivbordet");
    ArrangeSettingsColumn();
}

// Rows the choices do not use are hidden, and the rows below them move up.
void TfrmMain::ArrangeSettingsColumn() {
    const bool oauth = cbOAuth.Checked();
    const bool custom = oauth && OAuthProvider() == opCustom;
    int top = 24;
    auto field = [&top](TLabel& label, TControl& control, bool shown) {
        label.SetVisible(shown);
        control.SetVisible(shown);
        if (!shown)
            return;
        label.SetBounds(ColumnLeft, top + 5, FieldLeft - ColumnLeft - 1, 13);
        control.SetBounds(FieldLeft, top, FieldWidth, 23);
        top += RowPitch;
    };
    auto checkBox = [&top](TCheckBox& box) {
        box.SetBounds(ColumnLeft, top, ColumnWidth, 17);
        top += CheckBoxPitch;
    };

    const int listWidth = ColumnWidth - 2 * (ChooserButtonWidth + ChooserGap);
    cmbMailbox.SetBounds(ColumnLeft, top, listWidth, 23);
    btnAddMailbox.SetBounds(ColumnLeft + listWidth + ChooserGap, top, ChooserButtonWidth, 23);
    btnRemoveMailbox.SetBounds(ColumnLeft + ColumnWidth - ChooserButtonWidth, top, ChooserButtonWidth, 23);
    top += RowPitch;
    field(lblMailboxName, txtMailboxName, true);
    top += GroupGap;

    lblProtocol.SetBounds(ColumnLeft, top + 5, FieldLeft - ColumnLeft - 1, 13);
    cmbProtocol.SetBounds(FieldLeft, top, ProtocolListWidth, 23);
    const int tlsLeft = FieldLeft + ProtocolListWidth + 4;
    cbTLS.SetBounds(tlsLeft, top + 3, ColumnLeft + ColumnWidth - tlsLeft, 17);
    top += RowPitch + GroupGap;

    checkBox(cbOAuth);
    field(lblOAuthProvider, cmbOAuthProvider, oauth);
    field(lblOAuthClientId, txtOAuthClientId, oauth);
    field(lblOAuthClientSecret, txtOAuthClientSecret, oauth);
    field(lblOAuthAuthorizeUrl, txtOAuthAuthorizeUrl, custom);
    field(lblOAuthTokenUrl, txtOAuthTokenUrl, custom);
    field(lblOAuthScope, txtOAuthScope, custom);
    for (TControl* control :
         std::initializer_list<TControl*>{&btnSignIn, &btnSignOut, &lblSignInState, &lblTokenPlace})
        control->SetVisible(oauth);
    if (oauth) {
        const int buttonWidth = (ColumnWidth - 7) / 2;
        btnSignIn.SetBounds(ColumnLeft, top + 2, buttonWidth, 27);
        btnSignOut.SetBounds(ColumnLeft + ColumnWidth - buttonWidth, top + 2, buttonWidth, 27);
        lblSignInState.SetBounds(ColumnLeft, top + 35, ColumnWidth, 13);
        lblTokenPlace.SetBounds(ColumnLeft, top + 53, ColumnWidth, 13);
        top += 71;
    }
    top += GroupGap;

    checkBox(cbNotify);
    checkBox(cbStartWithDesktop);
}

// On Windows both choosers start in "C:\" and the program chooser lists ".EXE" files. Programs on a
// Linux desktop have no name pattern: there the choosers start in the home folder and the program
// chooser lists the files the user may run.
void TfrmMain::PlaceFileChoosers() {
#ifdef _WIN32
    constexpr std::u16string_view StartFolder = u"C:\\";
    OpenDialogEXE.SetFilter(u"EXE-filer (*.EXE)|*.EXE");
#else
    constexpr std::u16string_view StartFolder = u"~";
    OpenDialogEXE.SetFilter(u"Program (*)|*");
    OpenDialogEXE.SetExecutablesOnly(true);
#endif
    OpenDialogEXE.SetInitialDir(StartFolder);
    OpenDialogEXE.SetTitle(u"Bläddra...");
    OpenDialogWAV.SetFilter(u"WAV-filer (*.WAV)|*.WAV");
    OpenDialogWAV.SetInitialDir(StartFolder);
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
    cbStartWithDesktop.SetOnClick(MethodEvent(this, &TfrmMain::cbStartWithDesktopClick));
    cmbMailbox.SetOnChange(MethodEvent(this, &TfrmMain::cmbMailboxChange));
    btnAddMailbox.SetOnClick(MethodEvent(this, &TfrmMain::btnAddMailboxClick));
    btnRemoveMailbox.SetOnClick(MethodEvent(this, &TfrmMain::btnRemoveMailboxClick));
    // A click on the notice takes the user to the mail as a double click on the icon does.
    TrayIconMain.SetOnNoticeClick(MethodEvent(this, &TfrmMain::TrayIconMainDblClick));
}

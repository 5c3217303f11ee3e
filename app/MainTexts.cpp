// The English texts of the main window and the texts picked at the moment of use. The Swedish
// captions are the layout's own (MainLayout.cpp).

#include "app/MainTexts.h"

#include "app/Main.h"

std::u16string ServerCaption(TUiLanguage language, bool imap) {
    if (imap)
        return PickLanguageText(language, u"IMAP-server:", u"IMAP Server:");
    return PickLanguageText(language, u"POP3-server:", u"POP3 Server:");
}

std::u16string PathToClientCaption(TUiLanguage language, bool webMode) {
    if (webMode)
        return PickLanguageText(language, u"Sökväg till e-postplats: (WWW)", u"Path to e-mail place: (WWW)");
    return PickLanguageText(language, u"Sökväg till e-postklient: (.EXE)", u"Path to e-mail client: (.EXE)");
}

std::u16string AboutCaptionWord(TUiLanguage language) {
    return PickLanguageText(language, u"Om", u"About");
}

std::u16string AboutCreditLine(TUiLanguage language) {
    return PickLanguageText(language, u"Av Brevgluggens utvecklare (https://brevgluggen.example.org)",
                            u"By the Brevgluggen developers (https://brevgluggen.example.org)");
}

// Once, at window creation: these captions do not follow later changes of the language.
void TfrmMain::ApplyEnglishTexts() {
    Application->SetTitle(u"Mailhatch 1.10");
    SetCaption(Application->Title());
    mnuMainFile.SetCaption(u"&File");
    mnuMainFileQuit.SetCaption(u"&Quit!");
    mnuMainHelp.SetCaption(u"&Help");
    mnuMainHelpAbout.SetCaption(u"&About...");
    lblPOP3Server.SetCaption(u"POP3 Server:");
    lblPort.SetCaption(u"Port:");
    lblUserName.SetCaption(u"Username:");
    lblPassword.SetCaption(u"Password:");
    lblPathToClient.SetCaption(u"Path to e-mail client: (.EXE)");
    lblPathToSound.SetCaption(u"Path to sound: (.WAV)");
    btnBrowsePathToClient.SetCaption(u"Browse...");
    btnBrowsePathToSound.SetCaption(u"Browse...");
    btnSave.SetCaption(u"&Save!");
    cbTLS.SetCaption(u"Use TLS");
    lblProtocol.SetCaption(u"Protocol:");
    cbNotify.SetCaption(u"Show a notice of new mail");
    btnAddMailbox.SetCaption(u"Add");
    btnRemoveMailbox.SetCaption(u"Remove");
    lblMailboxName.SetCaption(u"Name:");
#ifdef _WIN32
    OpenDialogEXE.SetFilter(u"EXE Files (*.EXE)|*.EXE");
#else
    OpenDialogEXE.SetFilter(u"Programs (*)|*");
#endif
    OpenDialogEXE.SetTitle(u"Browse...");
    OpenDialogWAV.SetFilter(u"WAV Files (*.WAV)|*.WAV");
    OpenDialogWAV.SetTitle(u"Browse...");
    mnuSettings.SetCaption(u"&Settings...");
    cbOAuth.SetCaption(u"Sign in with OAuth 2.0");
    lblOAuthProvider.SetCaption(u"Provider:");
    cmbOAuthProvider.SetItems({u"Microsoft", u"Google", u"Custom"});
    lblOAuthClientId.SetCaption(u"Client ID:");
    lblOAuthClientSecret.SetCaption(u"Client secret:");
    lblOAuthAuthorizeUrl.SetCaption(u"Authorize address:");
    lblOAuthTokenUrl.SetCaption(u"Token address:");
    lblOAuthScope.SetCaption(u"Scope:");
    btnSignIn.SetCaption(u"Sign in\u2026");
    btnSignOut.SetCaption(u"Sign out");
    cbStartWithDesktop.SetCaption(u"Start with the desktop");
}

std::u16string SignInStateText(TUiLanguage language, TSignInState state, const std::u16string& failure) {
    switch (state) {
    case ssWaiting:
        return PickLanguageText(language, u"V\u00e4ntar p\u00e5 webbl\u00e4saren\u2026",
                                u"Waiting for the browser\u2026");
    case ssSignedIn:
        return PickLanguageText(language, u"Inloggad.", u"Signed in.");
    case ssSignInAgain:
        return PickLanguageText(language, u"Logga in p\u00e5 nytt", u"Sign in again") + failure + u".";
    case ssFailed:
        return SignInFailedLine(language, failure);
    default:
        return PickLanguageText(language, u"Inte inloggad.", u"Not signed in.");
    }
}

std::u16string KeyringNoAnswerText(TUiLanguage language) {
    return PickLanguageText(language, u"Nyckelringen svarade inte.", u"The keyring did not answer.");
}

std::u16string KeyringLockedText(TUiLanguage language) {
    return PickLanguageText(language, u"Nyckelringen f\u00f6rblev l\u00e5st.", u"The keyring stayed locked.");
}

std::u16string TokenPlaceText(TUiLanguage language, const std::u16string& where) {
    return PickLanguageText(language, u"Token sparas i: ", u"Token kept in: ") + where;
}

RedirectPages SignInPages(TUiLanguage language) {
    const std::string head = "<!doctype html><meta charset=\"utf-8\"><title>Brevgluggen</title><p>";
    return {head +
                TextToUtf8(PickLanguageText(
                    language, u"Du \u00e4r inloggad i Brevgluggen. Du kan st\u00e4nga den h\u00e4r fliken.",
                    u"You are signed in to Brevgluggen. You may close this tab.")) +
                "</p>",
            head +
                TextToUtf8(PickLanguageText(language, u"Inloggningen misslyckades: ", u"Sign-in failed: "))};
}

std::u16string SignInFailedLine(TUiLanguage language, const std::u16string& reason) {
    return PickLanguageText(language, u"Inloggningen misslyckades: ", u"Sign-in failed: ") + reason;
}

// Short: the tip holds 127 characters.
std::u16string SignInAgainReason(TUiLanguage language, SignInCause cause, const std::u16string& refusal) {
    switch (cause) {
    case SignInCause::OtherScope:
        return PickLanguageText(language, u": inloggad f\u00f6r en annan beh\u00f6righet (scope)",
                                u": signed in for another permission (scope)");
    case SignInCause::OtherIssuer:
        return PickLanguageText(language, u": inloggad p\u00e5 en annan adress eller klient",
                                u": signed in at another address or client");
    case SignInCause::Unbound:
        return PickLanguageText(language, u": inloggad med en \u00e4ldre version",
                                u": signed in with an older version");
    case SignInCause::Refused:
        return u": " + refusal; // the provider's code first
    case SignInCause::Rejected:
        return PickLanguageText(language, u": e-postservern avvisade token",
                                u": the mail server refused the token");
    default:
        return u"";
    }
}

std::u16string SignInAgainText(TUiLanguage language, SignInCause cause, const std::u16string& refusal) {
    return PickLanguageText(language, u"Logga in p\u00e5 nytt (Inst\u00e4llningar, Logga in\u2026)",
                            u"Sign in again (Settings, Sign in\u2026)") +
           SignInAgainReason(language, cause, refusal) + u".";
}

std::u16string SignInNeedsTlsText(TUiLanguage language) {
    return PickLanguageText(language, u"OAuth-inloggning kr\u00e4ver TLS.", u"OAuth sign-in requires TLS.");
}

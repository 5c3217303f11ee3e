// The English texts of the main window and the texts picked at the moment of use. The Swedish
// captions are the layout's own (MainLayout.cpp).

#include "app/MainTexts.h"

#include "app/Main.h"

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
    // Programs on this desktop have no ".EXE": the program chooser offers every file as well.
    OpenDialogEXE.SetFilter(u"EXE Files (*.EXE)|*.EXE|All Files (*)|*");
    OpenDialogEXE.SetTitle(u"Browse...");
    OpenDialogWAV.SetFilter(u"WAV Files (*.WAV)|*.WAV");
    OpenDialogWAV.SetTitle(u"Browse...");
    mnuSettings.SetCaption(u"&Settings...");
}

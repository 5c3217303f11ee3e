// The program entry: a resident tray program whose only window is its settings window.

#include <vector>

#include "app/Main.h"
#include "base/Exceptions.h"
#include "base/Text.h"
#include "toolz/Toolz.h"

int main(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int index = 1; index < argc; ++index)
        arguments.push_back(Utf8ToText(argv[index]));
    SetCommandLineArguments(std::move(arguments));
    CaptureThreadLocale();

    TApplication application(argc, argv);
    // No settings-change message comes on this desktop; where the toolkit reports a locale
    // change, the locale is read anew.
    Application->SetOnLocaleChange(CaptureThreadLocale);
    Application->Initialize();
    Application->SetShowMainForm(false);
    Application->SetMainFormOnTaskBar(true);
    Application->SetTitle(u"Brevgluggen 1.10");
    try {
        Application->CreateForm(frmMain);
    } catch (const Exception& error) {
        // No tray icon could be had (a Windows session without a task bar): the window cannot
        // exist, and the program ends, saying so in the user's language.
        const TUiLanguage language = CurrentUiLanguage();
        Application->SetTitle(PickLanguageText(language, u"Brevgluggen 1.10", u"Mailhatch 1.10"));
        const bool noTray = error.Message() == u"Cannot create shell notification icon";
        Application->ShowException(
            noTray ? Exception(PickLanguageText(language, u"Kan inte skapa ikonen i meddelandefältet",
                                                error.Message()))
                   : error);
        return 1;
    } catch (...) {
        Application->HandleException();
        return 1;
    }
    Application->Run();
    return 0;
}

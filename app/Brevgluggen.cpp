// The program entry: a resident tray program whose only window is its settings window.

#include <vector>

#include "app/Main.h"
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
    } catch (...) {
        // No tray icon could be had: the window cannot exist, and the program ends.
        Application->HandleException();
        return 1;
    }
    Application->Run();
    return 0;
}

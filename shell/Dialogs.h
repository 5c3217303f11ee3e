#pragma once
// The desktop's standard dialogs: the file chooser and the information box.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "shell/Events.h"

class TForm;

// Lets the user pick one existing file. The filter is pairs of a description and a pattern,
// each part ended by "|" ("EXE Files (*.EXE)|*.EXE|All Files (*)|*"); patterns are matched
// without regard to letter case, as file names on the desktop this program came from are.
class TOpenDialog : public TObject {
public:
    explicit TOpenDialog(TForm* owner) : owner_(owner) {}

    const std::u16string& Filter() const { return filter_; }
    void SetFilter(std::u16string_view filter) { filter_ = filter; }
    // The folder the chooser starts in; "~" at its start stands for the user's home folder.
    const std::u16string& InitialDir() const { return initialDir_; }
    void SetInitialDir(std::u16string_view folder) { initialDir_ = folder; }
    // Lists only the files the user may run (and the folders to reach them), whatever their name;
    // for desktops whose programs carry no name pattern of their own.
    bool ExecutablesOnly() const { return executablesOnly_; }
    void SetExecutablesOnly(bool executablesOnly) { executablesOnly_ = executablesOnly; }
    const std::u16string& Title() const { return title_; }
    void SetTitle(std::u16string_view title) { title_ = title; }
    // The full path of the file chosen by the last Execute that was confirmed.
    const std::u16string& FileName() const { return fileName_; }

    // Runs the chooser modally over the owner window. True when the user confirmed a file,
    // which is then in FileName; false, with FileName unchanged, when the user cancelled.
    bool Execute();

    // The filter as the toolkit lists it: one "description (patterns)" entry per pair.
    static std::u16string ToolkitFilter(std::u16string_view filter);

    // Replaces the chooser for tests: the function gets the dialog and returns the chosen path,
    // or nothing for a cancel. An empty function restores the real chooser.
    using TChooser = std::function<std::optional<std::u16string>(const TOpenDialog&)>;
    static void SetChooserForTesting(TChooser chooser);

private:
    // The desktop's own chooser: the chosen path, or nothing for a cancel.
    std::optional<std::u16string> RunSystemChooser() const;

    TForm* owner_;
    std::u16string filter_;
    std::u16string initialDir_;
    std::u16string title_;
    std::u16string fileName_;
    bool executablesOnly_ = false;
};

// Shows a modal box with the information icon, the message and one OK button over the owner
// window (none: over no window); returns when the user has closed it.
void ShowInformationBox(TForm* owner, std::u16string_view message, std::u16string_view caption);

// Replaces the information box for tests that read what it would show; an empty function
// restores the real box.
using TInformationBox =
    std::function<void(TForm* owner, std::u16string_view message, std::u16string_view caption)>;
void SetInformationBoxForTesting(TInformationBox box);

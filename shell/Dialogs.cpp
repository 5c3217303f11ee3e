// The parts of the standard dialogs that every desktop back-end shares: the outcome of a chooser,
// and the replacements that tests put in place of the desktop's own dialogs.

#include "shell/Dialogs.h"

#include "shell/BackEnd.h"

namespace {

TOpenDialog::TChooser& TestChooser() {
    static TOpenDialog::TChooser chooser;
    return chooser;
}

TInformationBox& TestInformationBox() {
    static TInformationBox box;
    return box;
}

} // namespace

bool TOpenDialog::Execute() {
    const std::optional<std::u16string> chosen = TestChooser() ? TestChooser()(*this) : RunSystemChooser();
    if (!chosen || chosen->empty())
        return false;
    fileName_ = *chosen;
    return true;
}

void TOpenDialog::SetChooserForTesting(TChooser chooser) {
    TestChooser() = std::move(chooser);
}

void ShowInformationBox(TForm* owner, std::u16string_view message, std::u16string_view caption) {
    if (TestInformationBox())
        TestInformationBox()(owner, message, caption);
    else
        ShowSystemInformationBox(owner, message, caption);
}

void SetInformationBoxForTesting(TInformationBox box) {
    TestInformationBox() = std::move(box);
}

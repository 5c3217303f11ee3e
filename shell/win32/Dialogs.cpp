#include "shell/Dialogs.h"

#include <windows.h>

#include <commdlg.h>

#include <algorithm>

#include "shell/BackEnd.h"
#include "shell/win32/Win32Bridge.h"

namespace {

HWND WindowOf(TForm* form) {
    return form ? form->Handle()->window : nullptr;
}

} // namespace

// The chooser's filter: each description and pattern ended by a NUL, and one NUL more at the end
// (the string's own terminator).
std::u16string TOpenDialog::ToolkitFilter(std::u16string_view filter) {
    std::u16string parts(filter);
    if (!parts.empty() && parts.back() != u'|')
        parts += u'|';
    if (std::count(parts.begin(), parts.end(), u'|') % 2 != 0)
        parts.erase(parts.rfind(u'|', parts.size() - 2) + 1); // a description without a pattern
    std::replace(parts.begin(), parts.end(), u'|', u'\0');
    return parts;
}

std::optional<std::u16string> TOpenDialog::RunSystemChooser() const {
    const std::wstring filter = ToWide(ToolkitFilter(filter_));
    std::wstring folder = ToWide(initialDir_);
    std::replace(folder.begin(), folder.end(), L'/', L'\\');
    const std::wstring title = ToWide(title_);
    std::wstring file(32768, L'\0');

    OPENFILENAMEW chooser{};
    chooser.lStructSize = sizeof chooser;
    chooser.hwndOwner = WindowOf(owner_);
    chooser.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    chooser.nFilterIndex = 1;
    chooser.lpstrFile = file.data();
    chooser.nMaxFile = static_cast<DWORD>(file.size());
    chooser.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    chooser.lpstrTitle = title.empty() ? nullptr : title.c_str();
    // The program's current folder stays: it is the working folder of the mail program.
    chooser.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                    OFN_NOCHANGEDIR | OFN_ENABLESIZING;
    if (!GetOpenFileNameW(&chooser))
        return std::nullopt;
    return FromWide(file.c_str());
}

void ShowSystemInformationBox(TForm* owner, std::u16string_view message, std::u16string_view caption) {
    MessageBoxW(WindowOf(owner), ToWide(message).c_str(), ToWide(caption).c_str(),
                MB_OK | MB_ICONINFORMATION);
}

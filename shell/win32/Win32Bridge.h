#pragma once
// Shared by the Windows back-end's own sources only: the system objects behind the shell's classes.
// (shell/HotKey.h cannot be included beside <windows.h>: its names are the system's own.)

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "shell/Application.h"
#include "shell/Controls.h"
#include "shell/ImageList.h"
#include "shell/Menus.h"
#include "shell/Window.h"

// The shell's UTF-16 texts and the system's wide strings share their code units.
inline std::wstring ToWide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}
inline std::u16string FromWide(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

// The text of a window (a caption or an edit box's contents).
std::u16string WindowText(HWND window);

// A font of the family with a character height in 96-dpi pixels, at the window's dots per inch;
// `fixedPitch` asks for a fixed-pitch stand-in where the family is missing.
HFONT CreateFontForDpi(std::u16string_view family, int pixelHeight, int dpi, bool fixedPitch);

struct TForm::Impl {
    explicit Impl(TForm* form);
    ~Impl();

    TForm* form;
    HWND window = nullptr;
    int clientWidth = 0; // in 96-dpi pixels, like every position of the layout
    int clientHeight = 0;
    int dpi = 96;
    std::u16string fontFamily;
    int fontPixelHeight = 0;
    HFONT font = nullptr;     // the window's font at `dpi`, made when first needed
    HWND lastFocus = nullptr; // the control that had the focus when the window was deactivated

    int Scale(int value) const { return MulDiv(value, dpi, 96); }
    HFONT Font();
    // Sizes the window so that its client area is the layout's at the current dots per inch.
    void FitToClientSize();
    void CenterOnWorkArea();
    // The DPI of the window's monitor changed: fonts and positions follow.
    void DpiChanged(int newDpi, const RECT& suggested);
    void PaintOn(HDC dc);
    LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultButtonId() const;

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

// The form a top-level window belongs to, or null for any other window.
TForm* FormOfWindow(HWND window);

struct TControl::Impl {
    ~Impl();

    HWND window = nullptr;
    HFONT ownFont = nullptr; // null: the window's font
    HICON glyph = nullptr;
    HIMAGELIST glyphList = nullptr; // the glyph as the button draws it, with room before its caption
    HWND tip = nullptr;             // a label's tip showing its whole caption
    int dropDownRows = 0;           // a drop-down list: the room below the box for its open list
    // Runs for a notification of the control (EN_CHANGE, BN_CLICKED...), sent to its window.
    std::function<void(WORD code)> onCommand;

    // Places the control and gives it its font again, at the window's current dots per inch.
    static void Refresh(TControl* control) { control->ApplyCommonProperties(); }
};

// The control a child window belongs to, or null.
TControl::Impl* ControlOfWindow(HWND child);

struct TCanvas::Impl {
    HDC dc = nullptr; // set only while the window paints
    int dpi = 96;
};

struct TMenuItem::Impl {
    UINT id = 0;
    HMENU subMenu = nullptr; // made when the first sub-item is added
    HMENU parent = nullptr;  // the menu the item stands in
    std::u16string caption;
};

// The menu item of a menu command, or null.
TMenuItem* MenuItemOfCommand(UINT id);
// Runs the item of the window's menu bar whose shortcut is the key pressed; true when one ran.
bool RunMenuShortCut(HWND formWindow, const MSG& message);

struct TPopupMenu::Impl {
    HMENU menu = CreatePopupMenu();
    ~Impl() { DestroyMenu(menu); }
};

struct TImageList::Impl {
    ~Impl();
    // The image as an icon, made when first asked for; null for an index out of range.
    HICON Icon(const TImageList& list, int index);

    std::vector<HICON> icons;
};

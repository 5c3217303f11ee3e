#include "shell/Menus.h"

#include <map>

#include "base/Text.h"
#include "shell/win32/Win32Bridge.h"

namespace {

// Menu commands are numbered from here on; the controls' numbers stay below.
constexpr UINT FirstMenuCommand = 1000;

std::map<UINT, TMenuItem*>& ItemsByCommand() {
    static std::map<UINT, TMenuItem*> items;
    return items;
}

UINT NewCommand() {
    static UINT next = FirstMenuCommand;
    return next++;
}

// "Ctrl+Q", "F1": the shortcut as the menu shows it right of the caption.
std::u16string ShortCutText(uint16_t shortCut) {
    std::u16string text;
    if (shortCut & scCtrl)
        text += u"Ctrl+";
    if (shortCut & scShift)
        text += u"Shift+";
    if (shortCut & scAlt)
        text += u"Alt+";
    const int virtualKey = shortCut & 0xFF;
    if (virtualKey >= VK_F1 && virtualKey <= VK_F24)
        text += u"F" + AsciiToText(std::to_string(virtualKey - VK_F1 + 1));
    else
        text += static_cast<char16_t>(virtualKey);
    return text;
}

std::wstring MenuText(const TMenuItem& item) {
    std::u16string text = item.Caption();
    if (item.ShortCut() != 0)
        text += u"\t" + ShortCutText(item.ShortCut());
    return ToWide(text);
}

// Puts the item at the end of the menu.
void InsertItem(TMenuItem& item, HMENU menu) {
    TMenuItem::Impl& impl = *item.Handle();
    std::wstring text = MenuText(item);
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
    info.wID = impl.id;
    info.hSubMenu = impl.subMenu;
    info.dwTypeData = text.data();
    InsertMenuItemW(menu, static_cast<UINT>(GetMenuItemCount(menu)), TRUE, &info);
    impl.parent = menu;
}

void ShowMenuText(TMenuItem& item) {
    TMenuItem::Impl& impl = *item.Handle();
    if (!impl.parent)
        return;
    std::wstring text = MenuText(item);
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = text.data();
    SetMenuItemInfoW(impl.parent, impl.id, FALSE, &info);
}

uint16_t PressedShortCut(const MSG& message) {
    uint16_t shortCut = static_cast<uint16_t>(message.wParam & 0xFF);
    if (GetKeyState(VK_SHIFT) < 0)
        shortCut |= scShift;
    if (GetKeyState(VK_CONTROL) < 0)
        shortCut |= scCtrl;
    if (GetKeyState(VK_MENU) < 0)
        shortCut |= scAlt;
    return shortCut;
}

} // namespace

TMenuItem* MenuItemOfCommand(UINT id) {
    const auto found = ItemsByCommand().find(id);
    return found != ItemsByCommand().end() ? found->second : nullptr;
}

bool RunMenuShortCut(HWND formWindow, const MSG& message) {
    HMENU bar = GetMenu(formWindow);
    if (!bar || (message.message != WM_KEYDOWN && message.message != WM_SYSKEYDOWN))
        return false;
    const uint16_t pressed = PressedShortCut(message);
    for (const auto& [id, item] : ItemsByCommand()) {
        // GetMenuState looks through the sub-menus as well.
        if (item->ShortCut() == pressed && GetMenuState(bar, id, MF_BYCOMMAND) != static_cast<UINT>(-1)) {
            item->Click();
            return true;
        }
    }
    return false;
}

// ---- TMenuItem ------------------------------------------------------------------------------

TMenuItem::TMenuItem() : impl_(std::make_unique<Impl>()) {
    impl_->id = NewCommand();
    ItemsByCommand()[impl_->id] = this;
}

// A sub-menu that stands in a menu goes with that menu.
TMenuItem::~TMenuItem() {
    ItemsByCommand().erase(impl_->id);
    if (impl_->subMenu && !impl_->parent)
        DestroyMenu(impl_->subMenu);
}

std::u16string TMenuItem::Caption() const {
    return impl_->caption;
}

void TMenuItem::SetCaption(std::u16string_view caption) {
    impl_->caption = caption;
    ShowMenuText(*this);
}

void TMenuItem::SetShortCut(uint16_t shortCut) {
    shortCut_ = shortCut;
    ShowMenuText(*this);
}

void TMenuItem::Add(TMenuItem* item) {
    if (!impl_->subMenu) {
        impl_->subMenu = CreatePopupMenu();
        if (impl_->parent) {
            MENUITEMINFOW info{};
            info.cbSize = sizeof info;
            info.fMask = MIIM_SUBMENU;
            info.hSubMenu = impl_->subMenu;
            SetMenuItemInfoW(impl_->parent, impl_->id, FALSE, &info);
        }
    }
    InsertItem(*item, impl_->subMenu);
}

// ---- TMainMenu, TPopupMenu ------------------------------------------------------------------

void TMainMenu::Add(TMenuItem* item) {
    HWND window = owner_->Handle()->window;
    HMENU bar = GetMenu(window);
    if (!bar) {
        bar = CreateMenu();
        SetMenu(window, bar);
    }
    InsertItem(*item, bar);
    DrawMenuBar(window);
}

TPopupMenu::TPopupMenu() : impl_(std::make_unique<Impl>()) {}
TPopupMenu::~TPopupMenu() = default;

void TPopupMenu::Add(TMenuItem* item) {
    InsertItem(*item, impl_->menu);
}

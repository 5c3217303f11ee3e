#include "shell/TrayIcon.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>

#include "base/Exceptions.h"
#include "shell/win32/HiddenWindow.h"
#include "shell/win32/Win32Bridge.h"

namespace {

constexpr UINT CallbackMessage = WM_USER + 1;
constexpr UINT IconId = 1;
// At the start of a session the task bar may come up a moment after the program.
constexpr DWORD NotificationAreaWaitMs = 5000;
constexpr DWORD NotificationAreaPollMs = 250;

} // namespace

// The icon talks to the task bar through a hidden window of its own: the clicks on the icon, the
// task bar's re-creation (the icon is added anew) and the end of the session (it leaves).
struct TTrayIcon::Impl {
    explicit Impl(TTrayIcon* owner);

    TTrayIcon* icon;
    UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    bool added = false;
    std::unique_ptr<THiddenWindow> window;

    NOTIFYICONDATAW Data(UINT flags) const;
    void ShowBalloon();
    bool Add();
    void Modify(UINT flags);
    void Remove();
    void ShowMenu();
    std::optional<LRESULT> Message(UINT message, WPARAM wParam, LPARAM lParam);
};

TTrayIcon::Impl::Impl(TTrayIcon* owner) : icon(owner) {
    window = std::make_unique<THiddenWindow>(
        [this](UINT message, WPARAM wParam, LPARAM lParam) { return Message(message, wParam, lParam); },
        true);
}

NOTIFYICONDATAW TTrayIcon::Impl::Data(UINT flags) const {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window->Handle();
    data.uID = IconId;
    data.uFlags = flags;
    data.uCallbackMessage = CallbackMessage;
    if (icon->icons_)
        data.hIcon = icon->icons_->Handle()->Icon(*icon->icons_, icon->imageIndex_);
    // The hint is already cut to the 127 characters the field holds.
    std::copy_n(icon->hint_.begin(), std::min(icon->hint_.size(), std::size(data.szTip) - 1), data.szTip);
    return data;
}

// The text cut to the field's size, never in the middle of a surrogate pair.
template <size_t N> void CopyCut(std::u16string_view text, wchar_t (&field)[N]) {
    size_t length = std::min(text.size(), N - 1);
    if (length < text.size() && length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF)
        --length;
    std::copy_n(text.begin(), length, field);
    field[length] = L'\0';
}

// A balloon in place of the one shown, with the icon's own image.
void TTrayIcon::Impl::ShowBalloon() {
    if (!added)
        return;
    NOTIFYICONDATAW data = Data(NIF_INFO);
    CopyCut(icon->noticeSummary_, data.szInfoTitle);
    // An empty text takes the balloon away: a notice without a body shows its summary there.
    CopyCut(icon->noticeBody_.empty() ? icon->noticeSummary_ : icon->noticeBody_, data.szInfo);
    data.dwInfoFlags = NIIF_USER | NIIF_LARGE_ICON;
    data.hBalloonIcon = data.hIcon;
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

// Version 4: clicks arrive as the mouse messages themselves, the menu as WM_CONTEXTMENU.
bool TTrayIcon::Impl::Add() {
    NOTIFYICONDATAW data = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
    if (!Shell_NotifyIconW(NIM_ADD, &data))
        return false;
    data.uVersion = NOTIFYICON_VERSION_4;
    Shell_NotifyIconW(NIM_SETVERSION, &data);
    added = true;
    return true;
}

void TTrayIcon::Impl::Modify(UINT flags) {
    if (!added)
        return;
    NOTIFYICONDATAW data = Data(flags);
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void TTrayIcon::Impl::Remove() {
    if (!added)
        return;
    NOTIFYICONDATAW data = Data(0);
    Shell_NotifyIconW(NIM_DELETE, &data);
    added = false;
}

// The menu belongs to a window in the foreground, or it would not close when the user clicks
// elsewhere.
void TTrayIcon::Impl::ShowMenu() {
    if (!icon->popupMenu_)
        return;
    HWND owner = window->Handle();
    SetForegroundWindow(owner);
    if (Application)
        Application->ProcessMessages();
    POINT cursor;
    GetCursorPos(&cursor);
    const UINT chosen = static_cast<UINT>(TrackPopupMenuEx(icon->popupMenu_->Handle()->menu,
                                                           TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                                           cursor.x, cursor.y, owner, nullptr));
    PostMessageW(owner, WM_NULL, 0, 0);
    if (TMenuItem* item = MenuItemOfCommand(chosen))
        item->Click();
}

std::optional<LRESULT> TTrayIcon::Impl::Message(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == CallbackMessage) {
        switch (LOWORD(lParam)) {
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDBLCLK:
            icon->DblClick();
            break;
        case WM_CONTEXTMENU:
            ShowMenu();
            break;
        case NIN_BALLOONUSERCLICK:
            icon->NoticeClick();
            break;
        }
        return 0;
    }
    if (message == taskbarCreated) {
        added = false;
        if (icon->visible_)
            Add();
        return 0;
    }
    if (message == WM_ENDSESSION && wParam) {
        Remove();
        return 0;
    }
    return std::nullopt;
}

TTrayIcon::TTrayIcon() : impl_(std::make_unique<Impl>(this)) {
    if (Application)
        hint_ = Application->Title();
}

TTrayIcon::~TTrayIcon() {
    impl_->Remove();
}

void TTrayIcon::SetVisible(bool visible) {
    if (visible == visible_)
        return;
    if (!visible) {
        impl_->Remove();
        visible_ = false;
        return;
    }
    for (DWORD waited = 0; !impl_->Add(); waited += NotificationAreaPollMs) {
        if (waited >= NotificationAreaWaitMs)
            throw Exception(std::string_view("Cannot create shell notification icon"));
        Sleep(NotificationAreaPollMs);
    }
    visible_ = true;
}

void TTrayIcon::SetPopupMenu(TPopupMenu* menu) {
    popupMenu_ = menu;
}

void TTrayIcon::ShowImage() {
    impl_->Modify(NIF_ICON);
}

void TTrayIcon::ShowHint() {
    impl_->Modify(NIF_TIP | NIF_SHOWTIP);
}

void TTrayIcon::ShowNoticeOnDesktop() {
    impl_->ShowBalloon();
}

#include "shell/win32/HiddenWindow.h"

namespace {

constexpr wchar_t ClassName[] = L"BrevgluggenHiddenWindow";

void RegisterClassOnce(WNDPROC procedure) {
    static const bool registered = [procedure] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = ClassName;
        return RegisterClassExW(&windowClass) != 0;
    }();
    (void)registered;
}

} // namespace

THiddenWindow::THiddenWindow(THandler handler, bool receivesBroadcasts) : handler_(std::move(handler)) {
    RegisterClassOnce(Procedure);
    // A message-only window is lighter, but broadcasts pass it by.
    window_ =
        CreateWindowExW(0, ClassName, L"", WS_POPUP, 0, 0, 0, 0, receivesBroadcasts ? nullptr : HWND_MESSAGE,
                        nullptr, GetModuleHandleW(nullptr), this);
}

THiddenWindow::~THiddenWindow() {
    if (window_) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

LRESULT CALLBACK THiddenWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* self = reinterpret_cast<THiddenWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && self->handler_) {
        if (const std::optional<LRESULT> result = self->handler_(message, wParam, lParam))
            return *result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

#include "shell/Application.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "base/Exceptions.h"
#include "shell/win32/HiddenWindow.h"
#include "shell/win32/Win32Bridge.h"

namespace {

// Keyboard handling of a visible form before the message reaches its window: the shortcuts of
// its menu bar, then the dialog keys (Tab, Enter for the default button, access keys).
bool HandledByForm(MSG& message) {
    HWND root = GetAncestor(message.hwnd, GA_ROOT);
    if (!FormOfWindow(root) || !IsWindowVisible(root))
        return false;
    return RunMenuShortCut(root, message) || IsDialogMessageW(root, &message);
}

void Dispatch(MSG& message) {
    if (HandledByForm(message))
        return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

} // namespace

// The hidden main window receives the desktop's broadcasts: a changed regional setting (and the
// task bar's re-creation, after which the language is read anew too), and the end of the session.
struct TApplication::Impl {
    std::unique_ptr<THiddenWindow> window;
    UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    bool comStarted = false;
};

TApplication::TApplication(int&, char**) : impl_(std::make_unique<Impl>()) {
    // The shell's file opening and the file chooser expect COM on the calling thread.
    impl_->comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    impl_->window = std::make_unique<THiddenWindow>(
        [this](UINT message, WPARAM wParam, LPARAM) -> std::optional<LRESULT> {
            if (message == WM_SETTINGCHANGE || message == impl_->taskbarCreated) {
                // The thread keeps the locale it started with until told to take the user's own.
                SetThreadLocale(LOCALE_USER_DEFAULT);
                LocaleChanged();
            } else if (message == WM_QUERYENDSESSION) {
                return TRUE;
            } else if (message == WM_ENDSESSION && wParam) {
                // The process may be ended as soon as this returns: the windows store their
                // settings now, as they would at the end of the message loop.
                for (auto form = forms_.rbegin(); form != forms_.rend(); ++form)
                    (*form)->DoDestroy();
                Terminate();
                return 0;
            }
            return std::nullopt;
        },
        true);
    Application = this;
}

TApplication::~TApplication() {
    while (!forms_.empty())
        forms_.pop_back();
    impl_->window.reset();
    if (impl_->comStarted)
        CoUninitialize();
    Application = nullptr;
}

void TApplication::RunMessageLoop() {
    MSG message;
    while (!terminated_ && GetMessageW(&message, nullptr, 0, 0) > 0)
        Dispatch(message);
}

void TApplication::Terminate() {
    terminated_ = true;
    PostQuitMessage(0);
}

void TApplication::ProcessMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam)); // for the loop that ends on it
            return;
        }
        Dispatch(message);
    }
}

void TApplication::BringToFront() {
    if (mainForm_)
        SetForegroundWindow(mainForm_->Handle()->window);
}

void TApplication::ShowException(const Exception& error) {
    const std::wstring text = ToWide(ErrorBoxText(error.Message()));
    const std::wstring caption = ToWide(title_);
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

#pragma once
// A window that is never shown, for the system's messages to a part of the shell: timer ticks,
// tray-icon callbacks, and the desktop's broadcasts (settings changed, session ending, task bar
// re-created), which only top-level windows receive.

#include <windows.h>

#include <functional>
#include <optional>

class THiddenWindow {
public:
    // Returns the message's result, or nothing for the system's default handling.
    using THandler = std::function<std::optional<LRESULT>(UINT message, WPARAM wParam, LPARAM lParam)>;

    THiddenWindow(THandler handler, bool receivesBroadcasts);
    ~THiddenWindow();
    THiddenWindow(const THiddenWindow&) = delete;
    THiddenWindow& operator=(const THiddenWindow&) = delete;

    HWND Handle() const { return window_; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    THandler handler_;
    HWND window_ = nullptr;
};

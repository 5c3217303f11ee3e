#include "shell/Timer.h"

#include "base/Exceptions.h"
#include "shell/win32/HiddenWindow.h"

namespace {

constexpr UINT_PTR TimerId = 1;

} // namespace

// The ticks arrive as WM_TIMER at a hidden window of the timer's own.
struct TTimer::Impl {
    std::unique_ptr<THiddenWindow> window;
    bool active = false;
};

TTimer::TTimer() : impl_(std::make_unique<Impl>()) {
    impl_->window = std::make_unique<THiddenWindow>(
        [this](UINT message, WPARAM wParam, LPARAM) -> std::optional<LRESULT> {
            if (message != WM_TIMER || wParam != TimerId)
                return std::nullopt;
            Tick();
            return 0;
        },
        false);
}

TTimer::~TTimer() {
    KillTimer(impl_->window->Handle(), TimerId);
}

bool TTimer::Active() const {
    return impl_->active;
}

// Any change of the three settings starts the count from the beginning.
void TTimer::Restart() {
    HWND window = impl_->window->Handle();
    KillTimer(window, TimerId);
    impl_->active = false;
    if (!enabled_ || interval_ == 0 || !onTimer_)
        return;
    if (!SetTimer(window, TimerId, interval_, nullptr))
        throw Exception(std::string_view("Not enough timers available"));
    impl_->active = true;
}

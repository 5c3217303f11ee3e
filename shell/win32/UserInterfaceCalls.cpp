// Calls from other threads into the user-interface thread: a message posted to a hidden window
// made there, carrying the call on the heap.
#include <memory>

#include "shell/BackEnd.h"
#include "shell/win32/HiddenWindow.h"

namespace {

constexpr UINT CallMessage = WM_APP + 0x2A;

using Call = std::function<void()>;

THiddenWindow& CallWindow() {
    static THiddenWindow window(
        [](UINT message, WPARAM, LPARAM lParam) -> std::optional<LRESULT> {
            if (message != CallMessage)
                return std::nullopt;
            const std::unique_ptr<Call> call(reinterpret_cast<Call*>(lParam));
            (*call)();
            return 0;
        },
        false);
    return window;
}

} // namespace

void PrepareUserInterfaceCalls() {
    CallWindow();
}

void CallOnUserInterfaceThread(std::function<void()> call) {
    auto held = std::make_unique<Call>(std::move(call));
    if (PostMessageW(CallWindow().Handle(), CallMessage, 0, reinterpret_cast<LPARAM>(held.get())))
        held.release();
}

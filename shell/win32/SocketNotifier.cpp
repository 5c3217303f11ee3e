#include <winsock2.h>

#include "shell/SocketNotifier.h"
#include "shell/win32/HiddenWindow.h"

namespace {

constexpr UINT SocketMessage = WM_APP + 1;

} // namespace

// The system posts the socket's events (FD_READ again after each receive while bytes remain,
// FD_CLOSE once) to a hidden window of the notifier's own.
struct SocketNotifier::Impl {
    std::unique_ptr<THiddenWindow> window;
    SOCKET socket = INVALID_SOCKET;
};

SocketNotifier::SocketNotifier() : impl_(std::make_unique<Impl>()) {
    impl_->window = std::make_unique<THiddenWindow>(
        [this](UINT message, WPARAM wParam, LPARAM) -> std::optional<LRESULT> {
            if (message != SocketMessage)
                return std::nullopt;
            // An event still queued from a socket watched before is dropped.
            if (static_cast<SOCKET>(wParam) == impl_->socket)
                Readable();
            return 0;
        },
        false);
}

SocketNotifier::~SocketNotifier() {
    Stop();
}

void SocketNotifier::Watch(uintptr_t socket) {
    Stop();
    impl_->socket = static_cast<SOCKET>(socket);
    WSAAsyncSelect(impl_->socket, impl_->window->Handle(), SocketMessage, FD_READ | FD_CLOSE);
    watching_ = true;
}

void SocketNotifier::Stop() {
    watching_ = false;
    if (impl_->socket != INVALID_SOCKET)
        WSAAsyncSelect(impl_->socket, impl_->window->Handle(), 0, 0);
    impl_->socket = INVALID_SOCKET;
}

#include "shell/SocketNotifier.h"

#include <QSocketNotifier>

struct SocketNotifier::Impl {
    std::unique_ptr<QSocketNotifier> notifier;
};

SocketNotifier::SocketNotifier() : impl_(std::make_unique<Impl>()) {}

SocketNotifier::~SocketNotifier() = default;

void SocketNotifier::Watch(uintptr_t socket) {
    Stop();
    impl_->notifier = std::make_unique<QSocketNotifier>(static_cast<qintptr>(socket), QSocketNotifier::Read);
    QObject::connect(impl_->notifier.get(), &QSocketNotifier::activated, [this] { Readable(); });
    watching_ = true;
}

void SocketNotifier::Stop() {
    watching_ = false;
    if (impl_->notifier) {
        impl_->notifier->setEnabled(false);
        impl_->notifier.reset();
    }
}

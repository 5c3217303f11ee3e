#include "shell/Timer.h"

#include <QTimer>

struct TTimer::Impl {
    QTimer timer;
};

TTimer::TTimer() : impl_(std::make_unique<Impl>()) {
    // Whole-second precision lets the system bundle the wake-up with others.
    impl_->timer.setTimerType(Qt::VeryCoarseTimer);
    QObject::connect(&impl_->timer, &QTimer::timeout, [this] { Tick(); });
}

TTimer::~TTimer() = default;

bool TTimer::Active() const {
    return impl_->timer.isActive();
}

// Any change of the three settings starts the count from the beginning.
void TTimer::Restart() {
    impl_->timer.stop();
    if (enabled_ && interval_ > 0 && onTimer_)
        impl_->timer.start(static_cast<int>(interval_));
}

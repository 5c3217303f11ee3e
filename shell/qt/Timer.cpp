#include "shell/Timer.h"

#include <QTimer>

struct TTimer::Impl {
    QTimer timer;
};

TTimer::TTimer() : impl_(std::make_unique<Impl>()) {
    QObject::connect(&impl_->timer, &QTimer::timeout, [this] { Tick(); });
}

TTimer::~TTimer() = default;

bool TTimer::Active() const {
    return impl_->timer.isActive();
}

// Any change of the three settings starts the count from the beginning.
void TTimer::Restart() {
    impl_->timer.stop();
    // Whole-second precision lets the system bundle the wake-up with others; the toolkit rounds
    // such an interval to whole seconds, so a shorter one (which would round to 0 and fire
    // without pause) keeps the coarse precision of a few percent.
    impl_->timer.setTimerType(interval_ >= 1000 ? Qt::VeryCoarseTimer : Qt::CoarseTimer);
    if (enabled_ && interval_ > 0 && onTimer_)
        impl_->timer.start(static_cast<int>(interval_));
}

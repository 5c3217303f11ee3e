// The parts of the timer that every desktop back-end shares: its settings and the guarded tick.

#include "shell/Timer.h"

#include "shell/Application.h"

void TTimer::SetInterval(uint32_t milliseconds) {
    interval_ = milliseconds;
    Restart();
}

void TTimer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    Restart();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
    onTimer_ = std::move(handler);
    Restart();
}

void TTimer::Tick() {
    if (onTimer_)
        Application->Guarded([this] { onTimer_(this); });
}

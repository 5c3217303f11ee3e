#pragma once
// The periodic timer of a window.

#include <cstdint>
#include <memory>

#include "shell/Events.h"

// Raises OnTimer every Interval milliseconds while enabled and a handler is set.
class TTimer : public TObject {
public:
    TTimer();
    ~TTimer() override;
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    uint32_t Interval() const { return interval_; }
    void SetInterval(uint32_t milliseconds);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    void SetOnTimer(TNotifyEvent handler);
    // True while ticks are being counted.
    bool Active() const;
    // Runs OnTimer inside the error guard, as a tick does.
    void Tick();

    struct Impl;

private:
    void Restart();

    std::unique_ptr<Impl> impl_;
    uint32_t interval_ = 1000;
    bool enabled_ = true;
    TNotifyEvent onTimer_;
};

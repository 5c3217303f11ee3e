#pragma once
// A one-way signal that wakes a thread waiting on a socket: an event counter on POSIX systems,
// a manual-reset event under Windows.

#include <cstdint>

class WakeSignal {
public:
#ifdef _WIN32
    using Native = void*;
#else
    using Native = int;
#endif

    // Raises EIdConnectException when the system has no signal to give.
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    // Wakes the waiter; the signal stays raised.
    void Raise();
    // True once Raise was called.
    bool Raised() const;
    // What the platform waits on: readable once raised (POSIX), signalled once raised (Windows).
    Native NativeHandle() const {
        return native_;
    }

private:
    Native native_;
};

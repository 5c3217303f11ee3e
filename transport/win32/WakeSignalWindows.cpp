// The wake signal as a manual-reset event: signalled once raised.
#include "transport/WakeSignal.h"

#include <windows.h>

#include "base/WindowsText.h"
#include "transport/TransportErrors.h"

WakeSignal::WakeSignal() : native_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (native_ == nullptr)
        throw EIdConnectException(SystemErrorText(GetLastError()));
}

WakeSignal::~WakeSignal() {
    CloseHandle(native_);
}

void WakeSignal::Raise() {
    SetEvent(native_);
}

bool WakeSignal::Raised() const {
    return WaitForSingleObject(native_, 0) == WAIT_OBJECT_0;
}

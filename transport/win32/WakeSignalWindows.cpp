// The wake signal as a manual-reset event: signalled once raised.
#include "transport/WakeSignal.h"

#include <windows.h>

#include "base/WindowsText.h"
#include "transport/TransportErrors.h"

TIdWakeSignal::TIdWakeSignal() : native_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (native_ == nullptr)
        throw EIdConnectException(SystemErrorText(GetLastError()));
}

TIdWakeSignal::~TIdWakeSignal() {
    CloseHandle(native_);
}

void TIdWakeSignal::Raise() {
    SetEvent(native_);
}

bool TIdWakeSignal::Raised() const {
    return WaitForSingleObject(native_, 0) == WAIT_OBJECT_0;
}

// The wake signal as an event counter: readable once raised.
#include "transport/WakeSignal.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "transport/ErrorTexts.h"
#include "transport/TransportErrors.h"

WakeSignal::WakeSignal() : native_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (native_ == -1)
        throw EIdConnectException(SocketErrorText(SocketErrorFromErrno(errno)));
}

WakeSignal::~WakeSignal() {
    close(native_);
}

void WakeSignal::Raise() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(native_, &one, sizeof one);
}

bool WakeSignal::Raised() const {
    pollfd wait{native_, POLLIN, 0};
    return poll(&wait, 1, 0) > 0;
}

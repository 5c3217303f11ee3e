#include "transport/SocketList.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>

#include "transport/ErrorTexts.h"
#include "transport/Messages.h"
#include "transport/TransportErrors.h"

void TIdSocketList::Add(int handle) {
    std::lock_guard guard(lock_);
    if (count_ == MaxCount)
        throw EIdStackSetSizeExceeded(RSStackSetSizeExceeded);
    handles_[count_++] = handle;
}

void TIdSocketList::Remove(int handle) {
    std::lock_guard guard(lock_);
    const auto end = handles_.begin() + count_;
    const auto found = std::find(handles_.begin(), end, handle);
    if (found == end)
        return;
    *found = handles_[--count_];
}

void TIdSocketList::Clear() {
    std::lock_guard guard(lock_);
    count_ = 0;
}

bool TIdSocketList::Contains(int handle) const {
    std::lock_guard guard(lock_);
    return std::find(handles_.begin(), handles_.begin() + count_, handle) != handles_.begin() + count_;
}

int32_t TIdSocketList::Count() const {
    std::lock_guard guard(lock_);
    return count_;
}

bool TIdSocketList::WaitReadable(int32_t ms) const {
    std::array<pollfd, MaxCount> waits;
    nfds_t count = 0;
    {
        std::lock_guard guard(lock_);
        for (; count < static_cast<nfds_t>(count_); ++count)
            waits[count] = {handles_[count], POLLIN, 0};
    }
    using Clock = std::chrono::steady_clock;
    const bool unlimited = ms < 0;
    const auto end = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : ms);
    int timeout = unlimited ? -1 : ms;
    int ready;
    while ((ready = poll(waits.data(), count, timeout)) == -1) {
        if (errno != EINTR)
            ThrowSocketError(SocketErrorFromErrno(errno));
        if (!unlimited) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
            timeout = static_cast<int>(std::max<int64_t>(left, 0));
        }
    }
    return ready > 0;
}

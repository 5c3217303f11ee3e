#include "transport/SocketList.h"

#include <algorithm>

#include "transport/Messages.h"
#include "transport/TransportErrors.h"

void TIdSocketList::Add(TIdStackSocketHandle handle) {
    std::lock_guard guard(lock_);
    if (count_ == MaxCount)
        throw EIdStackSetSizeExceeded(RSStackSetSizeExceeded);
    handles_[count_++] = handle;
}

void TIdSocketList::Remove(TIdStackSocketHandle handle) {
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

bool TIdSocketList::Contains(TIdStackSocketHandle handle) const {
    std::lock_guard guard(lock_);
    return std::find(handles_.begin(), handles_.begin() + count_, handle) != handles_.begin() + count_;
}

int32_t TIdSocketList::Count() const {
    std::lock_guard guard(lock_);
    return count_;
}

int32_t TIdSocketList::CopyHandles(Handles& copy) const {
    std::lock_guard guard(lock_);
    std::copy_n(handles_.begin(), count_, copy.begin());
    return count_;
}

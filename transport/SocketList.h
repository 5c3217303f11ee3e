#pragma once
// A set of up to 64 native socket handles with its own lock, and the readable wait over it. The
// class of socket sets is fixed per platform (PosixSocketList, TIdSocketListWindows): each
// provides the wait.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "transport/NativeSocketHandle.h"

class TIdSocketList {
public:
    static constexpr int32_t MaxCount = 64;

    // A new, empty set of this platform's class.
    static std::unique_ptr<TIdSocketList> CreateSocketList();

    virtual ~TIdSocketList() = default;

    // Raises EIdStackSetSizeExceeded "Set Size Exceeded." when the set is full.
    void Add(TIdStackSocketHandle handle);
    // Moves the last entry into the removed one's place; an absent handle is ignored.
    void Remove(TIdStackSocketHandle handle);
    void Clear();
    bool Contains(TIdStackSocketHandle handle) const;
    int32_t Count() const;

    // Waits on a copy of the set, so no lock is held while waiting: true when a handle is
    // readable (or at its end), false when ms passed first. INFINITE_WAIT waits without limit.
    // Interrupting signals do not end the wait early. Raises EIdSocketError.
    virtual bool WaitReadable(int32_t ms) const = 0;

protected:
    using Handles = std::array<TIdStackSocketHandle, MaxCount>;
    // Copies the handles under the lock; returns their count.
    int32_t CopyHandles(Handles& copy) const;

private:
    mutable std::mutex lock_;
    Handles handles_{};
    int32_t count_ = 0;
};

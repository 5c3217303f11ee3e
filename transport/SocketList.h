#pragma once
// A set of up to 64 native socket handles with its own lock, and the readable wait over it.

#include <array>
#include <cstdint>
#include <mutex>

class TIdSocketList {
public:
    static constexpr int32_t MaxCount = 64;

    // Raises EIdStackSetSizeExceeded "Set Size Exceeded." when the set is full.
    void Add(int handle);
    // Moves the last entry into the removed one's place; an absent handle is ignored.
    void Remove(int handle);
    void Clear();
    bool Contains(int handle) const;
    int32_t Count() const;

    // poll() on a copy of the set, so no lock is held while waiting: true when a handle is
    // readable (or at its end), false when ms passed first. INFINITE_WAIT waits without limit.
    // Interrupting signals do not end the wait early. Raises EIdSocketError.
    bool WaitReadable(int32_t ms) const;

private:
    mutable std::mutex lock_;
    std::array<int, MaxCount> handles_{};
    int32_t count_ = 0;
};

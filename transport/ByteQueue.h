#pragma once
// A growable byte queue: bytes are appended at the back and consumed from the front by moving
// a head offset, so reading a line does not move the bytes behind it. The array grows in steps
// of GrowthStep beyond what is needed and is compacted once the head has passed GrowthStep.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "transport/WireText.h"

class TIdBuffer {
public:
    static constexpr int32_t GrowthStep = 2048;
    using TRemovedNotification = std::function<void(int32_t count)>;

    explicit TIdBuffer(TRemovedNotification onBytesRemoved = {});
    ~TIdBuffer();
    TIdBuffer(const TIdBuffer&) = delete;
    TIdBuffer& operator=(const TIdBuffer&) = delete;

    // Unread bytes, the array's length, and the index of the first unread byte in it.
    int32_t Size() const { return size_; }
    int32_t Capacity() const { return static_cast<int32_t>(bytes_.size()); }
    int32_t HeadOffset() const { return head_; }

    // Raises EIdTooMuchDataInBuffer when the queue would pass 2147483647 bytes.
    void Append(const uint8_t* data, size_t count);
    void Append(const TIdBytes& data) { Append(data.data(), data.size()); }

    // Position (from the first unread byte) of the first occurrence of pattern wholly within the
    // unread bytes at or after start; -1 if none. Raises EIdException for an empty pattern or a
    // start outside the unread bytes.
    int32_t IndexOf(const TIdBytes& pattern, int32_t start = 0) const;
    int32_t IndexOf(std::u16string_view pattern, int32_t start = 0, WireEncoding encoding = weNone) const;

    // Removes and returns count bytes (negative: all). Raises EIdNotEnoughDataInBuffer.
    TIdBytes Take(int32_t count);
    // Take() decoded as text; a count of 0 takes nothing.
    std::u16string TakeText(int32_t count = -1, WireEncoding encoding = weNone);
    // Drops count bytes from the front (all when count reaches the unread count).
    void Remove(int32_t count);
    void Clear();

    const uint8_t* UnreadBytes() const { return bytes_.data() + head_; }
    WireEncoding Encoding() const { return encoding_; }
    void SetEncoding(WireEncoding encoding) { encoding_ = encoding; }

private:
    void MoveUnreadToFront();

    TIdBytes bytes_;
    int32_t head_ = 0;
    int32_t size_ = 0;
    WireEncoding encoding_ = weAscii;
    TRemovedNotification onBytesRemoved_;
};

#include "transport/ByteQueue.h"

#include <algorithm>
#include <cstring>

#include "base/Integers.h"
#include "transport/Messages.h"
#include "transport/SocketStack.h"
#include "transport/TransportErrors.h"

TIdBuffer::TIdBuffer(TRemovedNotification onBytesRemoved) : onBytesRemoved_(std::move(onBytesRemoved)) {
    AcquireStack();
}

TIdBuffer::~TIdBuffer() {
    ReleaseStack();
}

void TIdBuffer::Append(const uint8_t* data, size_t count) {
    if (count == 0)
        return;
    if (static_cast<uint64_t>(size_) + count > static_cast<uint64_t>(INT32_MAX))
        throw EIdTooMuchDataInBuffer(RSTooMuchDataInBuffer);
    if (size_ == 0) {
        bytes_.assign(data, data + count);
        head_ = 0;
        size_ = static_cast<int32_t>(count);
        return;
    }
    MoveUnreadToFront();
    if (bytes_.size() - size_ < count)
        bytes_.resize(size_ + count + GrowthStep);
    std::memcpy(bytes_.data() + size_, data, count);
    size_ += static_cast<int32_t>(count);
}

int32_t TIdBuffer::IndexOf(const TIdBytes& pattern, int32_t start) const {
    if (size_ == 0)
        return -1;
    if (pattern.empty())
        throw EIdException(RSBufferMissingTerminator);
    if (start < 0 || start >= size_)
        throw EIdException(RSBufferInvalidStartPos);
    const uint8_t* first = UnreadBytes();
    const uint8_t* last = first + size_;
    const uint8_t* found = std::search(first + start, last, pattern.begin(), pattern.end());
    return found == last ? -1 : static_cast<int32_t>(found - first);
}

int32_t TIdBuffer::IndexOf(std::u16string_view pattern, int32_t start, WireEncoding encoding) const {
    return IndexOf(TextToBytes(pattern, encoding == weNone ? encoding_ : encoding), start);
}

TIdBytes TIdBuffer::Take(int32_t count) {
    if (count < 0)
        count = size_;
    if (count > size_)
        throw EIdNotEnoughDataInBuffer(std::u16string(AsciiToText(RSNotEnoughDataInBuffer)) + u" (" +
                                       IntToText(count) + u"/" + IntToText(size_) + u")");
    TIdBytes taken(UnreadBytes(), UnreadBytes() + count);
    Remove(count);
    return taken;
}

std::u16string TIdBuffer::TakeText(int32_t count, WireEncoding encoding) {
    if (count < 0)
        count = size_;
    if (count < 1)
        return {};
    const TIdBytes taken = Take(count);
    return BytesToText(taken.data(), taken.size(), encoding == weNone ? encoding_ : encoding);
}

void TIdBuffer::Remove(int32_t count) {
    if (count < 0)
        return;
    if (count >= size_) {
        Clear();
    } else {
        head_ += count;
        size_ -= count;
        if (head_ > GrowthStep) {
            MoveUnreadToFront();
            if (bytes_.size() - size_ > static_cast<size_t>(GrowthStep)) {
                bytes_.resize(size_ + GrowthStep);
                bytes_.shrink_to_fit();
            }
        }
    }
    if (onBytesRemoved_)
        onBytesRemoved_(count);
}

void TIdBuffer::Clear() {
    bytes_.clear();
    head_ = 0;
    size_ = 0;
}

void TIdBuffer::MoveUnreadToFront() {
    if (head_ == 0)
        return;
    std::memmove(bytes_.data(), bytes_.data() + head_, size_);
    head_ = 0;
}

#pragma once
// The handler the program uses, with the socket replaced by a byte stream that arrives in
// chunks of given sizes, with stalls (a wait for data that runs out) between them, and ends
// with the peer's close. What the program writes is kept.

#include <algorithm>
#include <deque>
#include <string>
#include <string_view>

#include "transport/StackSocketIO.h"

class ChunkedStreamHandler : public TIdIOHandlerStack {
public:
    // A chunk size of 0 stands for a stall.
    ChunkedStreamHandler(std::string_view stream, std::deque<size_t> events)
        : stream_(stream), events_(std::move(events)) {}

    void Open() override {
        TIdIOHandler::Open();
        socketOpen_ = true;
    }
    void Close() override {
        socketOpen_ = false;
        TIdIOHandler::Close();
    }
    size_t Delivered() const { return delivered_; }
    int StallsTaken() const { return stallsTaken_; }
    const std::string& Sent() const { return sent_; }
    bool Disconnected() const { return PeerClosed() || !socketOpen_; }

protected:
    bool SocketIsOpen() const override { return socketOpen_; }
    bool WaitReadable(int32_t) override {
        if (!events_.empty() && events_.front() == 0) {
            events_.pop_front();
            ++stallsTaken_;
            return false;
        }
        return true;
    }
    // The next chunk; once the script has no more, the rest at once; 0 once all is sent.
    int32_t ReceiveFromSocket(TIdBytes& buffer) override {
        size_t count = stream_.size() - delivered_;
        if (!events_.empty()) {
            count = std::min(count, events_.front());
            events_.pop_front();
        }
        count = std::min(count, buffer.size());
        std::copy_n(stream_.begin() + static_cast<std::ptrdiff_t>(delivered_), count, buffer.begin());
        delivered_ += count;
        return static_cast<int32_t>(count);
    }
    // Takes at most 3 bytes at a time, so that every write needs its loop.
    int32_t SendToSocket(const TIdBytes& bytes, int32_t offset) override {
        const size_t count = std::min<size_t>(3, bytes.size() - static_cast<size_t>(offset));
        sent_.append(bytes.begin() + offset, bytes.begin() + offset + static_cast<std::ptrdiff_t>(count));
        return static_cast<int32_t>(count);
    }

private:
    std::string_view stream_;
    std::deque<size_t> events_;
    size_t delivered_ = 0;
    std::string sent_;
    int stallsTaken_ = 0;
    bool socketOpen_ = false;
};

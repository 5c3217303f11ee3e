// The readable wait of a socket set over poll().
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>

#include "transport/ErrorTexts.h"
#include "transport/SocketList.h"

namespace {

class PosixSocketList : public TIdSocketList {
public:
    bool WaitReadable(int32_t ms) const override {
        Handles handles;
        const int32_t count = CopyHandles(handles);
        std::array<pollfd, MaxCount> waits;
        for (int32_t i = 0; i < count; ++i)
            waits[i] = {handles[i], POLLIN, 0};
        using Clock = std::chrono::steady_clock;
        const bool unlimited = ms < 0;
        const auto end = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : ms);
        int timeout = unlimited ? -1 : ms;
        int ready;
        while ((ready = poll(waits.data(), static_cast<nfds_t>(count), timeout)) == -1) {
            if (errno != EINTR)
                ThrowSocketError(SocketErrorFromErrno(errno));
            if (!unlimited) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
                timeout = static_cast<int>(std::max<int64_t>(left, 0));
            }
        }
        return ready > 0;
    }
};

} // namespace

std::unique_ptr<TIdSocketList> TIdSocketList::CreateSocketList() {
    return std::make_unique<PosixSocketList>();
}

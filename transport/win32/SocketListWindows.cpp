// The readable wait of a socket set over select(): the set is the platform's descriptor set of
// 64 entries.
#include "transport/ErrorTexts.h"
#include "transport/NativeSockets.h"
#include "transport/SocketList.h"

namespace {

static_assert(FD_SETSIZE >= TIdSocketList::MaxCount, "a socket set fits the platform's descriptor set");

class TIdSocketListWindows : public TIdSocketList {
public:
    bool WaitReadable(int32_t ms) const override {
        Handles handles;
        fd_set readable;
        readable.fd_count = static_cast<u_int>(CopyHandles(handles));
        for (u_int i = 0; i < readable.fd_count; ++i)
            readable.fd_array[i] = handles[i];
        timeval limit{ms / 1000, (ms % 1000) * 1000};
        const int ready = select(0, &readable, nullptr, nullptr, ms < 0 ? nullptr : &limit);
        if (ready == SOCKET_ERROR)
            ThrowSocketError(WSAGetLastError());
        return ready > 0;
    }
};

} // namespace

std::unique_ptr<TIdSocketList> TIdSocketList::CreateSocketList() {
    return std::make_unique<TIdSocketListWindows>();
}

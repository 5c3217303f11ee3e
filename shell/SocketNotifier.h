#pragma once
// Wakes the event loop when a socket has something to read (bytes, or the peer's close): the
// handler then runs on the user-interface thread, which otherwise sleeps. The handler runs again
// while unread bytes stay in the socket, so it need not read them all at once.

#include <cstdint>
#include <functional>
#include <memory>

class SocketNotifier {
public:
    SocketNotifier();
    ~SocketNotifier();
    SocketNotifier(const SocketNotifier&) = delete;
    SocketNotifier& operator=(const SocketNotifier&) = delete;

    // Starts watching the socket: a descriptor on POSIX systems, a SOCKET under Windows, which
    // puts it in non-blocking mode (and leaves it so after Stop). Stop before the socket closes.
    void Watch(uintptr_t socket);
    void Stop();
    bool Watching() const { return watching_; }
    // Runs inside the error guard, as a timer's tick does.
    void SetOnReadable(std::function<void()> handler) { onReadable_ = std::move(handler); }

    struct Impl;

private:
    // A back-end's notice that the socket is readable.
    void Readable();

    std::unique_ptr<Impl> impl_;
    std::function<void()> onReadable_;
    bool watching_ = false;
};

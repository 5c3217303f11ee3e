#pragma once
// The watcher thread of a bounded connect: it waits for the end of a connect in progress on one
// socket handle while the thread that started it waits, in slices, for the stop flag. The
// starter can stop it early, which ends the wait for the connect at once.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "transport/WakeSignal.h"

class TIdSocketHandle;

class TIdConnectThread {
public:
    // Starts watching the connect that binding has begun. Raises EIdConnectException when no
    // thread can be started.
    explicit TIdConnectThread(TIdSocketHandle& binding);
    // Stops a connect still running and waits for the thread's end.
    ~TIdConnectThread();
    TIdConnectThread(const TIdConnectThread&) = delete;
    TIdConnectThread& operator=(const TIdConnectThread&) = delete;

    // Raises the stop flag and wakes a connect still in progress.
    void Terminate();
    bool Terminated() const;
    // Waits up to timeout for the stop flag; returns it.
    bool WaitTerminated(std::chrono::milliseconds timeout);
    // Waits until the thread has ended.
    void WaitFor();

    // What the connect raised, read only after the stop flag was seen raised by the watcher:
    // empty text for success; code 0 for an error that was not a socket error.
    const std::u16string& ErrorMessage() const { return errorMessage_; }
    int32_t ErrorCode() const { return errorCode_; }

private:
    void Execute();
    void RaiseStopFlag();

    TIdSocketHandle& binding_;
    WakeSignal wake_;
    std::u16string errorMessage_;
    int32_t errorCode_ = 0;
    mutable std::mutex lock_;
    std::condition_variable stopped_;
    bool terminated_ = false;
    std::thread thread_;
};

#include "transport/ConnectThread.h"

#include "transport/ErrorTexts.h"
#include "transport/SocketHandle.h"
#include "transport/TransportErrors.h"

namespace {

// Closing the socket under a pending connect at time-out surfaces as one of these.
bool IsClosedUnderConnect(int32_t code) {
    return code == 10009 || code == 10038;
}

} // namespace

TIdConnectThread::TIdConnectThread(TIdSocketHandle& binding) : binding_(binding) {
    try {
        thread_ = std::thread(&TIdConnectThread::Execute, this);
    } catch (const std::system_error& error) {
        throw EIdConnectException(Utf8ToText(error.what()));
    }
}

TIdConnectThread::~TIdConnectThread() {
    Terminate();
    WaitFor();
}

void TIdConnectThread::Execute() {
    try {
        binding_.CompleteConnect(wake_);
    } catch (const EIdSocketError& error) {
        if (!IsClosedUnderConnect(error.ErrorCode())) {
            errorMessage_ = error.Message();
            errorCode_ = error.ErrorCode();
        }
    } catch (const Exception& error) {
        errorMessage_ = error.Message();
    } catch (const std::exception& error) {
        errorMessage_ = Utf8ToText(error.what());
    }
    RaiseStopFlag();
}

void TIdConnectThread::RaiseStopFlag() {
    {
        std::lock_guard guard(lock_);
        terminated_ = true;
    }
    stopped_.notify_all();
}

void TIdConnectThread::Terminate() {
    RaiseStopFlag();
    wake_.Raise();
}

bool TIdConnectThread::Terminated() const {
    std::lock_guard guard(lock_);
    return terminated_;
}

bool TIdConnectThread::WaitTerminated(std::chrono::milliseconds timeout) {
    std::unique_lock guard(lock_);
    return stopped_.wait_for(guard, timeout, [this] { return terminated_; });
}

void TIdConnectThread::WaitFor() {
    if (thread_.joinable())
        thread_.join();
}

#include "shell/BackgroundWork.h"

#include <system_error>
#include <thread>

#include "base/Exceptions.h"
#include "shell/Application.h"
#include "shell/BackEnd.h"

// Touched on the user-interface thread only: the worker threads hold nothing but a weak
// reference, which the posted completion resolves there.
struct BackgroundWork::Shared {
    size_t running = 0;
};

BackgroundWork::BackgroundWork() : shared_(std::make_shared<Shared>()) {
    PrepareUserInterfaceCalls();
}

BackgroundWork::~BackgroundWork() = default;

size_t BackgroundWork::Running() const {
    return shared_->running;
}

void BackgroundWork::Run(std::function<void()> work, Completion completion) {
    std::weak_ptr<Shared> owner = shared_;
    auto piece = [owner, work = std::move(work), completion = std::move(completion)]() mutable {
        std::exception_ptr failure;
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        work = nullptr; // what the work held goes here, not on the user-interface thread
        CallOnUserInterfaceThread([owner, completion = std::move(completion), failure] {
            const std::shared_ptr<Shared> shared = owner.lock();
            if (!shared)
                return;
            --shared->running;
            if (Application)
                Application->Guarded([&] { completion(failure); });
            else
                completion(failure);
        });
    };
    try {
        std::thread(std::move(piece)).detach();
    } catch (const std::system_error& error) {
        throw Exception(u"Cannot start a thread: " + Utf8ToText(error.what()));
    }
    ++shared_->running;
}

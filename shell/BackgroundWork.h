#pragma once
// Work that must not hold the user-interface thread (a keyring, an HTTPS request): each piece
// runs on a thread of its own, then its completion runs on the user-interface thread, from the
// message loop, like any other event. A completion never runs after its BackgroundWork is
// destroyed: a piece still running then finishes on its thread and is forgotten, so the work
// itself must own (or share) everything it touches. Destruction does not wait for it.
//
// Create, use and destroy a BackgroundWork on the user-interface thread only.

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>

class BackgroundWork {
public:
    // The work's failure, or nullptr when it returned.
    using Completion = std::function<void(std::exception_ptr failure)>;

    BackgroundWork();
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // Starts work on a new thread; its completion follows on the user-interface thread (inside
    // the application's error guard). Raises Exception when no thread can be started.
    void Run(std::function<void()> work, Completion completion);
    // Pieces started here whose completion has not run yet.
    size_t Running() const;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

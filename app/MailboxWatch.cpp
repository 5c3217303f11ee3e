#include "app/MailboxWatch.h"

#include <algorithm>

MailboxWatch::MailboxWatch(ImapClient& client, std::function<void(int32_t)> countIs,
                           std::function<void()> checkAgain)
    : client_(client), countIs_(std::move(countIs)), checkAgain_(std::move(checkAgain)) {
    PollTimer.SetEnabled(false);
    PollTimer.SetInterval(PollIntervalMs);
    PollTimer.SetOnTimer([this](TObject*) { Poll(); });
    ReconnectTimer.SetEnabled(false);
    ReconnectTimer.SetOnTimer([this](TObject*) { ReconnectDue(); });
}

MailboxWatch::~MailboxWatch() = default;

bool MailboxWatch::Start() {
    ReconnectTimer.SetEnabled(false);
    try {
        client_.ExamineInbox();
        Idle();
    } catch (...) {
        try {
            client_.CloseTcpConnection(false);
        } catch (...) {
        }
        PollTimer.SetEnabled(false);
        state_ = wsOff;
        return false;
    }
    state_ = wsIdling;
    pauseMs_ = FirstPauseMs;
    PollTimer.SetEnabled(true);
    return true;
}

void MailboxWatch::CountNow() {
    if (state_ != wsIdling)
        return;
    int32_t count = 0;
    try {
        client_.StopIdle();
        count = client_.CountUnseenInSelected();
    } catch (...) {
        Drop();
        return;
    }
    countIs_(count);
    try {
        Idle();
    } catch (...) {
        Drop();
    }
}

void MailboxWatch::Stop() {
    PollTimer.SetEnabled(false);
    ReconnectTimer.SetEnabled(false);
    if (state_ == wsIdling) {
        const int32_t readTimeout = client_.ReadTimeout();
        const std::chrono::milliseconds sessionLimit = client_.SessionTimeLimit();
        client_.SetReadTimeout(GoodbyeTimeoutMs);
        client_.SetSessionTimeLimit(std::chrono::milliseconds(2 * GoodbyeTimeoutMs));
        try {
            client_.CloseSession();
        } catch (...) {
        }
        client_.SetReadTimeout(readTimeout);
        client_.SetSessionTimeLimit(sessionLimit);
    }
    state_ = wsOff;
}

void MailboxWatch::Poll() {
    if (state_ != wsIdling)
        return;
    bool changed = false;
    try {
        if (std::chrono::steady_clock::now() - idleSince_ >= renewAfter_) {
            client_.StopIdle();
            Idle();
        }
        changed = client_.PollIdle(0);
    } catch (...) {
        Drop();
        return;
    }
    if (changed)
        CountNow();
}

void MailboxWatch::Idle() {
    client_.StartIdle();
    idleSince_ = std::chrono::steady_clock::now();
}

// The drop itself is not shown: the tray keeps its count until a check fails.
void MailboxWatch::Drop() {
    PollTimer.SetEnabled(false);
    try {
        client_.CloseTcpConnection(false);
    } catch (...) {
    }
    state_ = wsReconnecting;
    pauseMs_ = FirstPauseMs;
    WaitBeforeReconnect();
}

// The next, longer pause is set before the check, so that a check that fails, or that raises
// out of this handler, still leaves the next one due; a check that brings the watch back
// (Start) or ends it (Stop) clears it.
void MailboxWatch::ReconnectDue() {
    if (state_ != wsReconnecting) {
        ReconnectTimer.SetEnabled(false);
        return;
    }
    pauseMs_ = std::min(pauseMs_ * 2, LongestPauseMs);
    WaitBeforeReconnect();
    checkAgain_();
}

void MailboxWatch::WaitBeforeReconnect() {
    ReconnectTimer.SetInterval(pauseMs_);
    ReconnectTimer.SetEnabled(true);
}

#include "app/MailboxWatch.h"

#include <algorithm>
#include <utility>

#include "imap/ImapErrors.h"

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

MailboxWatch::MailboxWatch(ImapClient& client,
                           std::function<void(int32_t, const std::vector<NewMessageHeader>&)> countIs,
                           std::function<int32_t(int32_t)> headersWanted, std::function<void()> checkAgain)
    : client_(client), countIs_(std::move(countIs)), headersWanted_(std::move(headersWanted)),
      checkAgain_(std::move(checkAgain)) {
    Readable.SetOnReadable([this] { Advance(); });
    for (TTimer* timer : {&ReplyLimitTimer, &MoreTimer, &RenewTimer, &ReconnectTimer})
        timer->SetEnabled(false);
    ReplyLimitTimer.SetOnTimer([this](TObject*) { Advance(); });
    MoreTimer.SetInterval(1);
    MoreTimer.SetOnTimer([this](TObject*) { Advance(); });
    RenewTimer.SetOnTimer([this](TObject*) {
        RenewTimer.SetEnabled(false);
        if (state_ != wsIdling || step_ != kIdle)
            return;
        counting_ = false;
        try {
            BeginExchange();
        } catch (...) {
            Drop();
        }
    });
    ReconnectTimer.SetOnTimer([this](TObject*) { ReconnectDue(); });
}

MailboxWatch::~MailboxWatch() = default;

bool MailboxWatch::EnterIdle(ImapClient& client) {
    try {
        client.ExamineInbox();
        client.StartIdle();
        return true;
    } catch (...) {
        try {
            client.CloseTcpConnection(false);
        } catch (...) {
        }
        return false;
    }
}

// A reconnecting check that brings the watch back leaves the pause it waited the last.
void MailboxWatch::Start() {
    StopTimers();
    if (state_ == wsReconnecting && waitedMs_ != 0)
        lastPauseMs_ = waitedMs_;
    waitedMs_ = 0;
    state_ = wsIdling;
    countAgain_ = false;
    heldSince_ = Clock::now();
    Readable.Watch(static_cast<uintptr_t>(client_.IOHandler()->Binding()->Handle()));
    Idling();
    // Bytes that came with the continuation will not wake the socket.
    MoreTimer.SetEnabled(true);
}

void MailboxWatch::CountNow() {
    if (state_ != wsIdling)
        return;
    if (step_ != kIdle) {
        countAgain_ = true;
        return;
    }
    counting_ = true;
    try {
        BeginExchange();
    } catch (...) {
        Drop();
    }
}

void MailboxWatch::Stop() {
    StopTimers();
    Readable.Stop();
    if (state_ == wsIdling) {
        const int32_t readTimeout = client_.ReadTimeout();
        const std::chrono::milliseconds sessionLimit = client_.SessionTimeLimit();
        client_.SetReadTimeout(GoodbyeTimeoutMs);
        client_.SetSessionTimeLimit(std::chrono::milliseconds(2 * GoodbyeTimeoutMs));
        try {
            // In the middle of an exchange a goodbye would be out of step.
            client_.CloseTcpConnection(step_ == kIdle);
        } catch (...) {
        }
        client_.SetReadTimeout(readTimeout);
        client_.SetSessionTimeLimit(sessionLimit);
    }
    state_ = wsOff;
    step_ = kIdle;
    countAgain_ = false;
    lastPauseMs_ = 0;
    waitedMs_ = 0;
}

bool MailboxWatch::Release() {
    const bool inStep = step_ == kIdle;
    StopTimers();
    Readable.Stop();
    state_ = wsOff;
    step_ = kIdle;
    countAgain_ = false;
    lastPauseMs_ = 0;
    waitedMs_ = 0;
    return inStep;
}

void MailboxWatch::Advance() {
    MoreTimer.SetEnabled(false);
    if (state_ != wsIdling)
        return;
    try {
        if (step_ == kIdle) {
            if (client_.PollIdle(0)) {
                counting_ = true;
                BeginExchange();
            }
        }
        while (step_ != kIdle && client_.TakeArrived())
            Continue();
    } catch (const ImapReplyError&) {
        // A refused header fetch leaves the count standing and the notice without names.
        const bool fetching = step_ == kFindingNew || step_ == kFetching;
        if (!fetching || !client_.IOHandler()->HandlerOpen())
            return Drop();
        try {
            Reported(client_.FetchedNewHeaders());
        } catch (...) {
            return Drop();
        }
    } catch (...) {
        return Drop();
    }
    if (state_ != wsIdling)
        return;
    TimeReplyLimit();
    try {
        MoreTimer.SetEnabled(client_.MoreArrived());
    } catch (...) {
        Drop();
    }
}

void MailboxWatch::Continue() {
    switch (step_) {
    case kLeaving:
        if (!counting_)
            return EnterIdle();
        round_ = 1;
        client_.SendCommand(client_.UnseenSearchCommand());
        step_ = kCounting;
        return;
    case kCounting:
        if (const std::optional<int32_t> count = client_.UnseenSearchCount(round_))
            return Counted(*count);
        ++round_;
        client_.SendCommand(client_.UnseenSearchCommand());
        return;
    case kFindingNew:
        if (const std::optional<std::string> fetch =
                client_.NewHeadersFetchCommand(count_, headersMost_, headersMost_)) {
            client_.SendCommand(*fetch);
            step_ = kFetching;
            return;
        }
        return Reported(client_.FetchedNewHeaders());
    case kFetching:
        return Reported(client_.FetchedNewHeaders());
    case kEntering:
        return Idling();
    case kIdle:
        return;
    }
}

// A server that has ended the IDLE itself takes the next command at once.
void MailboxWatch::BeginExchange() {
    RenewTimer.SetEnabled(false);
    step_ = kLeaving;
    if (!client_.SendDone())
        Continue();
}

void MailboxWatch::Counted(int32_t count) {
    count_ = count;
    headersMost_ = headersWanted_(count);
    if (headersMost_ <= 0)
        return Reported({});
    client_.SendCommand(client_.NewHeadersSearchCommand());
    step_ = kFindingNew;
}

// The connection goes back to IDLE before the tray shows the count.
void MailboxWatch::Reported(const std::vector<NewMessageHeader>& headers) {
    EnterIdle();
    countIs_(count_, headers);
}

void MailboxWatch::EnterIdle() {
    client_.SendIdle();
    step_ = kEntering;
}

void MailboxWatch::Idling() {
    step_ = kIdle;
    RenewTimer.SetInterval(static_cast<uint32_t>(renewAfter_.count()));
    RenewTimer.SetEnabled(true);
    if (std::exchange(countAgain_, false)) {
        counting_ = true;
        BeginExchange();
    }
}

void MailboxWatch::TimeReplyLimit() {
    const std::optional<Clock::time_point> deadline = client_.ReplyDeadline();
    if (!deadline) {
        ReplyLimitTimer.SetEnabled(false);
        return;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    ReplyLimitTimer.SetInterval(static_cast<uint32_t>(std::clamp<int64_t>(left + 1, 1, UINT32_MAX)));
    ReplyLimitTimer.SetEnabled(true);
}

// The drop itself is not shown: the tray keeps its count until a check fails.
void MailboxWatch::Drop() {
    StopTimers();
    Readable.Stop();
    try {
        client_.CloseTcpConnection(false);
    } catch (...) {
    }
    state_ = wsReconnecting;
    step_ = kIdle;
    countAgain_ = false;
    if (Clock::now() - heldSince_ >= std::chrono::milliseconds(HeldLongEnough) / timeDivisor_)
        lastPauseMs_ = 0;
    WaitBeforeReconnect();
}

// The next, longer pause is armed before the check, so that a check that fails, or that raises
// out of this handler, still leaves the next one due; a check that brings the watch back
// (Start) or ends it (Stop) clears it, and the pause it waited stays the last.
void MailboxWatch::ReconnectDue() {
    if (state_ != wsReconnecting) {
        ReconnectTimer.SetEnabled(false);
        return;
    }
    waitedMs_ = lastPauseMs_;
    WaitBeforeReconnect();
    checkAgain_();
}

void MailboxWatch::WaitBeforeReconnect() {
    lastPauseMs_ = lastPauseMs_ == 0 ? FirstPauseMs : std::min(lastPauseMs_ * 2, LongestPauseMs);
    ReconnectTimer.SetInterval(Scaled(lastPauseMs_));
    ReconnectTimer.SetEnabled(true);
}

void MailboxWatch::StopTimers() {
    for (TTimer* timer : {&ReplyLimitTimer, &MoreTimer, &RenewTimer, &ReconnectTimer})
        timer->SetEnabled(false);
}

#pragma once
// The watch on an IMAP mailbox: after a check has signed in on a server that offers IDLE, the
// connection stays open, INBOX opened read-only and the session waiting in IDLE, so that a
// change reaches the tray at once instead of at the next timer tick. Everything runs on the
// user-interface thread: a timer of the event loop looks at the connection every 200 ms without
// waiting, so the window never blocks while nothing happens.
//
// When the connection drops, the watch asks for a fresh check after a pause that doubles with
// every check that does not bring the watch back (1 s, 2 s, 4 s ... at most 60 s).

#include <chrono>
#include <cstdint>
#include <functional>

#include "imap/ImapClient.h"
#include "shell/Timer.h"

class MailboxWatch {
public:
    enum TWatchState : uint8_t { wsOff, wsIdling, wsReconnecting };

    static constexpr uint32_t PollIntervalMs = 200;
    static constexpr uint32_t FirstPauseMs = 1000;
    static constexpr uint32_t LongestPauseMs = 60000;
    // IDLE is renewed well before the 29 minutes after which a server may end a silent session.
    static constexpr std::chrono::minutes RenewIdleAfter{28};
    // Quitting waits this long at most for each of the server's goodbyes (DONE's OK, LOGOUT's).
    static constexpr int32_t GoodbyeTimeoutMs = 400;

    // countIs: the unseen count is now this (counted on the watched connection).
    // checkAgain: run a check on a fresh connection; a check that finds IDLE calls Start.
    MailboxWatch(ImapClient& client, std::function<void(int32_t)> countIs, std::function<void()> checkAgain);
    ~MailboxWatch();
    MailboxWatch(const MailboxWatch&) = delete;
    MailboxWatch& operator=(const MailboxWatch&) = delete;

    TWatchState State() const { return state_; }

    // Takes over the client's signed-in connection: "EXAMINE INBOX", then "IDLE". When the
    // server refuses, the connection is closed, the watch is off and false is returned.
    bool Start();
    // Counts at once on the watched connection: "DONE", the count, "IDLE" again. A failure drops
    // the connection and starts the reconnecting.
    void CountNow();
    // Leaves IDLE and logs out ("DONE", "LOGOUT"), waiting at most GoodbyeTimeoutMs for each
    // answer; the watch is off until the next Start. Nothing is sent when no connection is open.
    void Stop();

    // Looks at the idle connection; runs every PollIntervalMs while idling.
    TTimer PollTimer;
    // The pause before the next check; runs once per drop or failed check.
    TTimer ReconnectTimer;

    // How long an IDLE lasts before it is renewed ("DONE", "IDLE").
    void SetRenewIdleAfterForTesting(std::chrono::milliseconds after) { renewAfter_ = after; }

private:
    void Poll();
    void ReconnectDue();
    // Enters IDLE and notes when, so that it is renewed in time.
    void Idle();
    // Closes the connection without a goodbye and waits the next pause before a fresh check.
    void Drop();
    void WaitBeforeReconnect();

    ImapClient& client_;
    std::function<void(int32_t)> countIs_;
    std::function<void()> checkAgain_;
    TWatchState state_ = wsOff;
    uint32_t pauseMs_ = FirstPauseMs;
    std::chrono::steady_clock::time_point idleSince_;
    std::chrono::milliseconds renewAfter_ = RenewIdleAfter;
};

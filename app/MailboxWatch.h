#pragma once
// The watch on an IMAP mailbox: after a check has signed in on a server that offers IDLE, the
// connection stays open, INBOX opened read-only and the session waiting in IDLE, so that a
// change reaches the tray at once instead of at the next timer tick.
//
// The check opens the watched session on its own thread (EnterIdle); from Start on, everything
// runs on the user-interface thread and nothing waits for the server: the event loop
// sleeps until the socket has bytes, and each exchange (leave IDLE, count, fetch the notice's
// headers, IDLE again) sends one command and goes on when its reply has arrived whole. However
// the server drips its bytes, an exchange, or a response begun during IDLE, ends within the
// client's session limit or the connection is dropped.
//
// When the connection drops, or a check fails, the watch asks for a fresh check after a pause
// that doubles with every failure (1 s, 2 s, 4 s ... at most 60 s); only a watch that has held
// for HeldLongEnough starts again from the first pause.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imap/ImapClient.h"
#include "shell/SocketNotifier.h"
#include "shell/Timer.h"

class MailboxWatch {
public:
    enum TWatchState : uint8_t { wsOff, wsIdling, wsReconnecting };

    static constexpr uint32_t FirstPauseMs = 1000;
    static constexpr uint32_t LongestPauseMs = 60000;
    static constexpr std::chrono::minutes HeldLongEnough{5};
    // IDLE is renewed well before the 29 minutes after which a server may end a silent session.
    static constexpr std::chrono::minutes RenewIdleAfter{28};
    // Quitting waits this long at most for each of the server's goodbyes (DONE's OK, LOGOUT's).
    static constexpr int32_t GoodbyeTimeoutMs = 400;

    // countIs: the unseen count is now this (counted on the watched connection), with the
    // From and Subject headers of the newest new messages when headersWanted asked for them.
    // headersWanted: for how many of the newest new messages a count of this many calls for
    // headers (0: none), at most as many as arrived since the count before.
    // checkAgain: run a check on a fresh connection; a check that finds IDLE calls Start.
    MailboxWatch(ImapClient& client,
                 std::function<void(int32_t, const std::vector<NewMessageHeader>&)> countIs,
                 std::function<int32_t(int32_t)> headersWanted, std::function<void()> checkAgain);
    ~MailboxWatch();
    MailboxWatch(const MailboxWatch&) = delete;
    MailboxWatch& operator=(const MailboxWatch&) = delete;

    TWatchState State() const { return state_; }
    // Whether an exchange is under way (the connection is not in IDLE).
    bool Busy() const { return step_ != kIdle; }

    // Opens a signed-in session for the watch, as part of the check that signed in (on its
    // thread): "EXAMINE INBOX", then "IDLE". When the server refuses, the connection is closed
    // and false is returned.
    static bool EnterIdle(ImapClient& client);
    // Takes over the client's connection that EnterIdle left in IDLE.
    void Start();
    // Counts on the watched connection: "DONE", the count, "IDLE" again; during an exchange,
    // once it has ended. A failure drops the connection and starts the reconnecting.
    void CountNow();
    // Leaves IDLE and logs out ("DONE", "LOGOUT"), waiting at most GoodbyeTimeoutMs for each
    // answer; the watch is off until the next Start. Nothing is sent when no connection is open.
    void Stop();
    // Gives the connection up without a word and without closing it (whoever holds the client
    // says goodbye); the watch is off. Whether a goodbye would be in step (no exchange under way).
    bool Release();

    // Wakes the watch when the connection has bytes.
    SocketNotifier Readable;
    // Ends the connection when the exchange, or a response begun, runs past the session limit.
    TTimer ReplyLimitTimer;
    // Goes on at once with bytes that arrived beyond what one wake-up takes in.
    TTimer MoreTimer;
    // Leaves IDLE and enters it anew before a server would end the silent session.
    TTimer RenewTimer;
    // The pause before the next check; runs once per drop or failed check.
    TTimer ReconnectTimer;

    void SetRenewIdleAfterForTesting(std::chrono::milliseconds after) { renewAfter_ = after; }
    // Divides every pause and HeldLongEnough, so that minutes of reconnecting pass in seconds.
    void SetTimeDivisorForTesting(uint32_t divisor) { timeDivisor_ = divisor; }

private:
    enum Step : uint8_t { kIdle, kLeaving, kCounting, kFindingNew, kFetching, kEntering };

    // Takes in what has arrived and carries the exchange on as far as the replies allow.
    void Advance();
    // One reply awaited has come: sends the next command of the exchange.
    void Continue();
    void BeginExchange();
    void Counted(int32_t count);
    void FetchHeadersOrIdle();
    void Reported(const std::vector<NewMessageHeader>& headers);
    void EnterIdle();
    // Back in IDLE: sleeps until the socket wakes it, or the renewal is due.
    void Idling();
    // Arms the reply limit at the client's deadline, or disarms it.
    void TimeReplyLimit();
    // Closes the connection without a goodbye and waits the next pause before a fresh check.
    void Drop();
    void ReconnectDue();
    // Arms the next pause: the first, or twice the last.
    void WaitBeforeReconnect();
    void StopTimers();
    uint32_t Scaled(uint32_t ms) const { return std::max<uint32_t>(ms / timeDivisor_, 1); }

    ImapClient& client_;
    std::function<void(int32_t, const std::vector<NewMessageHeader>&)> countIs_;
    std::function<int32_t(int32_t)> headersWanted_;
    std::function<void()> checkAgain_;
    TWatchState state_ = wsOff;
    Step step_ = kIdle;
    bool counting_ = false;   // the exchange counts (else it only renews the IDLE)
    bool countAgain_ = false; // a count was asked for during the exchange
    int32_t round_ = 0;       // of the count
    int32_t count_ = 0;
    int32_t headersMost_ = 0;  // of the count under way
    uint32_t lastPauseMs_ = 0; // the pause armed last since the watch held long enough; 0: none
    uint32_t waitedMs_ = 0;    // the pause waited before the reconnecting check under way; 0: none
    std::chrono::steady_clock::time_point heldSince_;
    std::chrono::milliseconds renewAfter_ = RenewIdleAfter;
    uint32_t timeDivisor_ = 1;
};

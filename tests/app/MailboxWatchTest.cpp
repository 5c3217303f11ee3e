// The IMAP check and its watch, driven through the window against a scripted IMAP server: the
// push counted on the watched connection, the timer that opens no other, the renewal, the
// reconnect pauses after a drop, the goodbye at quit, and a tray that answers whatever the
// server drips. The event loop runs as in the program (the socket wakes the watch); the
// reconnect timer is ticked by the test or runs on a shorter time scale.

#include <chrono>
#include <thread>

#include "base/Integers.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/LoopbackSockets.h"
#include "tests/support/ScriptedServer.h"
#include "toolz/FormToolz.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Script Join(std::initializer_list<Script> parts) {
    Script joined;
    for (const Script& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

// The check up to IDLE on a server that offers it, with `unseen` unseen messages in INBOX.
Script CheckThenIdle(int unseen) {
    return {ServerSays("* OK [CAPABILITY IMAP4rev1 IDLE] ready"),
            ClientSends("A1 LOGIN \"anna\" \"secret\""),
            ServerSays("A1 OK [CAPABILITY IMAP4rev1 IDLE] signed in"),
            ClientSends("A2 STATUS INBOX (UNSEEN)"),
            ServerSays("* STATUS INBOX (UNSEEN " + std::to_string(unseen) + ")"),
            ServerSays("A2 OK"),
            ClientSends("A3 EXAMINE INBOX"),
            ServerSays("A3 OK [READ-ONLY] examined"),
            ClientSends("A4 IDLE"),
            ServerSays("+ idling")};
}

// Leaving the IDLE tagged `idleTag`, a count of `unseen` and the next IDLE, tagged one up.
Script RecountThenIdle(int idleTag, int unseen) {
    const std::string search = "A" + std::to_string(idleTag + 1);
    std::string found = "* SEARCH";
    for (int number = 1; number <= unseen; ++number)
        found += " " + std::to_string(number);
    return {ClientSends("DONE"),
            ServerSays("A" + std::to_string(idleTag) + " OK idle done"),
            ClientSends(search + " SEARCH UNSEEN"),
            ServerSays(found),
            ServerSays(search + " OK"),
            ClientSends("A" + std::to_string(idleTag + 2) + " IDLE"),
            ServerSays("+ idling")};
}

Script Goodbye(int idleTag) {
    const std::string logout = "A" + std::to_string(idleTag + 1);
    return {ClientSends("DONE"), ServerSays("A" + std::to_string(idleTag) + " OK"),
            ClientSends(logout + " LOGOUT"), ServerSays("* BYE"), ServerSays(logout + " OK")};
}

} // namespace

class MailboxWatchTest : public MainWindowTest {
protected:
    void CreateImapWindow(uint16_t port) {
        CreateResidentWindow();
        // The watch's own conversation: the notice's header fetch is proven on its own.
        window->cbNotify.SetChecked(false);
        window->cmbProtocol.SetItemIndex(mpIMAP);
        window->txtPort.SetText(IntToText(port));
        window->StoreSettings();
    }
    MailboxWatch& Watch() { return window->Mailboxes().front()->Watch(); }
    // Runs the event loop until the condition holds, for up to `limit`; the longest time one
    // turn of the loop took, which is how long the tray could not answer.
    template <class Condition> Clock::duration RunEventsUntil(Condition done, Clock::duration limit = 5s) {
        Clock::duration longest{};
        for (const auto until = Clock::now() + limit; !done() && Clock::now() < until;) {
            const auto start = Clock::now();
            ProcessPendingMessages();
            longest = std::max(longest, Clock::now() - start);
            std::this_thread::sleep_for(2ms);
        }
        return longest;
    }
    void RunEventsUntilTheTipChanges() {
        const std::u16string before = Hint();
        RunEventsUntil([&] { return Hint() != before; });
    }
    void RunEventsUntilIdle() {
        RunEventsUntil([&] { return !Watch().Busy(); });
    }
    // Quits, and how long the goodbye took.
    Clock::duration Quit() {
        const auto start = Clock::now();
        window.reset();
        return Clock::now() - start;
    }
};

TEST_F(MailboxWatchTest, PushIsCountedOnTheWatchedConnectionWhichTheTimerRenewalAndQuitKeep) {
    const Script script =
        Join({CheckThenIdle(2),
              {ServerStaysSilent(300ms), ServerSays("* 3 EXISTS")},
              RecountThenIdle(4, 3),
              RecountThenIdle(6, 1), // the timer's tick
              {ClientSends("DONE"), ServerSays("A8 OK"), ClientSends("A9 IDLE"), ServerSays("+ idling")},
              Goodbye(9)});
    ScriptedServer server(script);
    CreateImapWindow(server.Port());
    StoreAndTick();
    EXPECT_EQ(Hint(), u"You have 2 new e-mail messages.");
    EXPECT_EQ(Watch().State(), MailboxWatch::wsIdling);
    RunEventsUntilTheTipChanges();
    EXPECT_EQ(Hint(), u"You have 3 new e-mail messages.");
    EXPECT_EQ(sounds.size(), 2u) << "the push plays the sound on growth as a check does";
    RunEventsUntilIdle();
    window->TimerMain.Tick();
    RunEventsUntilTheTipChanges();
    EXPECT_EQ(Hint(), u"You have 1 new e-mail message.");
    EXPECT_EQ(sounds.size(), 2u);
    RunEventsUntilIdle();
    Watch().RenewTimer.Tick();
    RunEventsUntil([&] { return Watch().Busy(); }, 100ms);
    RunEventsUntilIdle();
    EXPECT_LT(Quit(), 1s);
    EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script));
    EXPECT_EQ(server.AcceptedConnections(), 1u);
}

TEST_F(MailboxWatchTest, DropReconnectsAfterDoublingPausesAndOnlyAFailedReconnectIsShown) {
    const std::vector<Script> scripts = {Join({CheckThenIdle(2), {CloseConnection()}}),
                                         Join({CheckThenIdle(5), Goodbye(4)})};
    ScriptedServer server(scripts);
    CreateImapWindow(server.Port());
    StoreAndTick();
    RunEventsUntil([&] { return Watch().State() != MailboxWatch::wsIdling; });
    ASSERT_EQ(Watch().State(), MailboxWatch::wsReconnecting);
    EXPECT_EQ(Watch().ReconnectTimer.Interval(), 1000u);
    EXPECT_EQ(Hint(), u"You have 2 new e-mail messages.") << "the drop alone is not shown";
    window->TimerMain.Tick();
    EXPECT_EQ(server.AcceptedConnections(), 1u) << "the timer leaves the reconnecting to the watch";

    // Saved with a port where nothing listens: the reconnecting goes on with it.
    window->txtPort.SetText(IntToText(FreeLoopbackPort()));
    window->btnSave.Click();
    for (uint32_t pause : {2000u, 4000u, 8000u, 16000u, 32000u, 60000u, 60000u}) {
        Watch().ReconnectTimer.Tick();
        EXPECT_EQ(Watch().ReconnectTimer.Interval(), pause);
        EXPECT_TRUE(Watch().ReconnectTimer.Enabled());
    }
    WaitForChecks();
    EXPECT_EQ(Hint(),
              u"The mailbox could not be checked.\nCheck failed: Socket Error # 10061 Connection refused.");

    window->txtPort.SetText(IntToText(server.Port()));
    window->btnSave.Click();
    WaitForChecks();
    Watch().ReconnectTimer.Tick();
    EXPECT_EQ(Watch().State(), MailboxWatch::wsIdling);
    EXPECT_FALSE(Watch().ReconnectTimer.Enabled());
    EXPECT_EQ(Hint(), u"You have 5 new e-mail messages.");
    EXPECT_EQ(sounds.size(), 2u);
    Quit();
    EXPECT_EQ(server.ReceivedBytes(1), ClientBytes(scripts[1]));
}

TEST_F(MailboxWatchTest, QuitDoesNotWaitLongForAServerThatNeverAnswersDone) {
    const Script script = Join({CheckThenIdle(0), {ClientSends("DONE"), ServerStaysSilent(5s)}});
    ScriptedServer server(script);
    CreateImapWindow(server.Port());
    StoreAndTick();
    ASSERT_EQ(Watch().State(), MailboxWatch::wsIdling);
    EXPECT_LT(Quit(), 2s);
}

TEST_F(MailboxWatchTest, ServerWithoutIdleIsLoggedOutAfterEachCheck) {
    const Script script = {ServerSays("* OK [CAPABILITY IMAP4rev1] ready"),
                           ClientSends("A1 LOGIN \"anna\" \"secret\""),
                           ServerSays("A1 OK [CAPABILITY IMAP4rev1] signed in"),
                           ClientSends("A2 STATUS INBOX (UNSEEN)"),
                           ServerSays("* STATUS INBOX (UNSEEN 4)"),
                           ServerSays("A2 OK"),
                           ClientSends("A3 LOGOUT"),
                           ServerSays("* BYE"),
                           ServerSays("A3 OK"),
                           CloseConnection()};
    ScriptedServer server(script);
    CreateImapWindow(server.Port());
    StoreAndTick();
    StoreAndTick();
    EXPECT_EQ(Watch().State(), MailboxWatch::wsOff);
    EXPECT_EQ(Hint(), u"You have 4 new e-mail messages.");
    EXPECT_TRUE(server.WaitUntilDone());
    EXPECT_EQ(server.AcceptedConnections(), 2u);
    EXPECT_EQ(server.ReceivedBytes(1), ClientBytes(script));
}

// Whatever the server drips, during IDLE or into the notice's header literal, the tray answers
// at once, and the watch ends the connection at the session limit.
TEST_F(MailboxWatchTest, TrayAnswersWhileTheServerDripsAndTheLimitEndsTheConnection) {
    const std::string header = "From: Bo <bo@bg.test>\r\nSubject: Hej\r\n\r\n";
    const struct {
        const char* name;
        Script afterIdle;
    } cases[] = {
        {"ResponseDuringIdle", {ServerDripFeeds("* 3 EXISTS\r\n", 1s)}},
        {"HeaderLiteral",
         {ServerSays("* 1 EXISTS"), ClientSends("DONE"), ServerSays("A4 OK"), ClientSends("A5 SEARCH UNSEEN"),
          ServerSays("* SEARCH 1"), ServerSays("A5 OK"), ClientSends("A6 UID SEARCH UNSEEN"),
          ServerSays("* SEARCH 7"), ServerSays("A6 OK"),
          ClientSends("A7 UID FETCH 7 (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)]<0.16384>)"),
          ServerSays("* 1 FETCH (UID 7 BODY[HEADER.FIELDS (FROM SUBJECT)] {" + std::to_string(header.size()) +
                     "}"),
          ServerDripFeeds(header + ")\r\nA7 OK\r\n", 1s)}},
    };
    constexpr auto limit = 2500ms;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(std::vector<Script>{Join({CheckThenIdle(0), c.afterIdle})});
        CreateImapWindow(server.Port());
        window->cbNotify.SetChecked(true);
        window->Mailboxes().front()->Imap().SetSessionTimeLimit(limit);
        StoreAndTick();
        ASSERT_EQ(Watch().State(), MailboxWatch::wsIdling);
        const auto start = Clock::now();
        const Clock::duration longestTurn =
            RunEventsUntil([&] { return Watch().State() != MailboxWatch::wsIdling; }, 10s);
        EXPECT_LT(longestTurn, 500ms);
        EXPECT_EQ(Watch().State(), MailboxWatch::wsReconnecting);
        EXPECT_GE(Clock::now() - start, limit - 100ms);
        EXPECT_LT(Clock::now() - start, limit + 1500ms);
        EXPECT_EQ(Hint(), u"You have no new e-mail messages.");
        window.reset();
    }
}

// A server that takes every login and drops every IDLE: the pauses between logins grow all
// the same (a minute of them passes in a second here).
TEST_F(MailboxWatchTest, ReconnectPausesGrowWhenEveryWatchDropsSoonAfterTheLogin) {
    constexpr uint32_t divisor = 60;
    ScriptedServer server(Join({CheckThenIdle(1), {CloseConnection()}}));
    CreateImapWindow(server.Port());
    Watch().SetTimeDivisorForTesting(divisor);
    StoreAndTick();
    RunEventsUntil([] { return false; }, std::chrono::milliseconds(2min) / divisor);
    // Logins at 0, 1, 3, 7, 15, 31 and 63 s; resetting the pause after each login gave dozens.
    EXPECT_GE(server.AcceptedConnections(), 6u);
    EXPECT_LE(server.AcceptedConnections(), 8u);
}

// Short timers wait their interval between ticks in the event loop, instead of a rounding to
// whole seconds turning them into a loop without pause.
TEST(ShortTimer, TicksAtItsIntervalInTheEventLoop) {
    TTimer timer;
    int ticks = 0;
    timer.SetInterval(200);
    timer.SetOnTimer([&ticks](TObject*) { ++ticks; });
    for (const auto until = Clock::now() + 1s; Clock::now() < until;) {
        ProcessPendingMessages();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GE(ticks, 2);
    EXPECT_LE(ticks, 8);
}

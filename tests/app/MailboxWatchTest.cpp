// The IMAP check and its watch, driven through the window against a scripted IMAP server: the
// push counted on the watched connection, the timer that opens no other, the renewal, the
// reconnect pauses after a drop, and the goodbye at quit. The watch's timers are ticked by the
// test, so nothing waits for a real pause.

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
    }
    MailboxWatch& Watch() { return *window->WatchMain; }
    // Ticks the poll timer until the tip changes, for up to 5 s.
    void PollUntilTheTipChanges() {
        const std::u16string before = Hint();
        for (const auto until = Clock::now() + 5s; Hint() == before && Clock::now() < until;) {
            Watch().PollTimer.Tick();
            std::this_thread::sleep_for(20ms);
        }
    }
    // Ticks the poll timer until the watch has dropped its connection, for up to 5 s.
    void PollUntilDropped() {
        for (const auto until = Clock::now() + 5s;
             Watch().State() == MailboxWatch::wsIdling && Clock::now() < until;) {
            Watch().PollTimer.Tick();
            std::this_thread::sleep_for(20ms);
        }
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
    window->TimerMain.Tick();
    EXPECT_EQ(Hint(), u"You have 2 new e-mail messages.");
    EXPECT_EQ(Watch().State(), MailboxWatch::wsIdling);
    PollUntilTheTipChanges();
    EXPECT_EQ(Hint(), u"You have 3 new e-mail messages.");
    EXPECT_EQ(sounds.size(), 2u) << "the push plays the sound on growth as a check does";
    window->TimerMain.Tick();
    EXPECT_EQ(Hint(), u"You have 1 new e-mail message.");
    EXPECT_EQ(sounds.size(), 2u);
    Watch().SetRenewIdleAfterForTesting(0ms);
    Watch().PollTimer.Tick();
    EXPECT_LT(Quit(), 1s);
    EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script));
    EXPECT_EQ(server.AcceptedConnections(), 1u);
}

TEST_F(MailboxWatchTest, DropReconnectsAfterDoublingPausesAndOnlyAFailedReconnectIsShown) {
    const std::vector<Script> scripts = {Join({CheckThenIdle(2), {CloseConnection()}}),
                                         Join({CheckThenIdle(5), Goodbye(4)})};
    ScriptedServer server(scripts);
    CreateImapWindow(server.Port());
    window->TimerMain.Tick();
    PollUntilDropped();
    ASSERT_EQ(Watch().State(), MailboxWatch::wsReconnecting);
    EXPECT_EQ(Watch().ReconnectTimer.Interval(), 1000u);
    EXPECT_EQ(Hint(), u"You have 2 new e-mail messages.") << "the drop alone is not shown";
    window->TimerMain.Tick();
    EXPECT_EQ(server.AcceptedConnections(), 1u) << "the timer leaves the reconnecting to the watch";

    window->txtPort.SetText(IntToText(FreeLoopbackPort()));
    for (uint32_t pause : {2000u, 4000u, 8000u, 16000u, 32000u, 60000u, 60000u}) {
        Watch().ReconnectTimer.Tick();
        EXPECT_EQ(Watch().ReconnectTimer.Interval(), pause);
        EXPECT_TRUE(Watch().ReconnectTimer.Enabled());
    }
    EXPECT_EQ(Hint(),
              u"The mailbox could not be checked.\nCheck failed: Socket Error # 10061 Connection refused.");

    window->txtPort.SetText(IntToText(server.Port()));
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
    window->TimerMain.Tick();
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
    window->TimerMain.Tick();
    window->TimerMain.Tick();
    EXPECT_EQ(Watch().State(), MailboxWatch::wsOff);
    EXPECT_EQ(Hint(), u"You have 4 new e-mail messages.");
    EXPECT_TRUE(server.WaitUntilDone());
    EXPECT_EQ(server.AcceptedConnections(), 2u);
    EXPECT_EQ(server.ReceivedBytes(1), ClientBytes(script));
}

// The watch's poll timer waits its 200 ms between ticks in the event loop, instead of a rounding
// to whole seconds turning it into a loop without pause.
TEST(ShortTimer, TicksAtItsIntervalInTheEventLoop) {
    TTimer timer;
    int ticks = 0;
    timer.SetInterval(MailboxWatch::PollIntervalMs);
    timer.SetOnTimer([&ticks](TObject*) { ++ticks; });
    for (const auto until = Clock::now() + 1s; Clock::now() < until;) {
        ProcessPendingMessages();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GE(ticks, 2);
    EXPECT_LE(ticks, 8);
}

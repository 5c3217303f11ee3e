// Proves the test servers themselves: the scripted server and both real servers, driven by the
// raw-socket conversation.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "tests/support/Pop3RawSession.h"
#include "tests/support/Pop3RealServers.h"
#include "tests/support/ScriptedServer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// ---- Scripted server ----

const Script kWholeCheck = {
    ServerSays("+OK ready <1.2@host>"),
    ClientSends("CAPA"),
    ServerSays("+OK"),
    ServerSays("USER"),
    ServerSays("..dotted"),
    ServerSays("."),
    ClientSends("USER u"),
    ServerSays("+OK"),
    ClientSends("PASS secret"),
    ServerSays("+OK"),
    ClientSends("STAT"),
    ServerSays("+OK 3 1200"),
    ClientSends("QUIT"),
    ServerSays("+OK bye"),
};

TEST(ScriptedServer, RunsAWholeCheckAndRecordsTheClientsBytes) {
    ScriptedServer server(kWholeCheck);
    EXPECT_EQ(RawPop3MessageCount(server.Port(), "u", "secret"), 3);
    EXPECT_EQ(server.ReceivedBytes(), "CAPA\r\nUSER u\r\nPASS secret\r\nSTAT\r\nQUIT\r\n");
    EXPECT_EQ(server.ReceivedBytes(), ClientBytes(kWholeCheck));
}

TEST(ScriptedServer, DotListUndoesDotStuffing) {
    ScriptedServer server(kWholeCheck);
    RawPop3Session session(server.Port());
    session.ReadLine();
    EXPECT_EQ(session.Command("CAPA"), "+OK");
    EXPECT_EQ(session.ReadDotList(), (std::vector<std::string>{"USER", ".dotted"}));
}

TEST(ScriptedServer, RecordsBytesSentAfterTheScriptEndedUntilTheClientCloses) {
    ScriptedServer server({ServerSays("-ERR go away")});
    {
        RawPop3Session session(server.Port());
        EXPECT_EQ(session.ReadLine(), "-ERR go away");
        session.SendLine("QUIT");
    }
    EXPECT_EQ(server.ReceivedBytes(), "QUIT\r\n");
}

TEST(ScriptedServer, SendsRawBytesAndClosesInMidLine) {
    ScriptedServer server({ServerSendsBytes("\r\n  \r\n+OK hi\n+OK hal"), CloseConnection()});
    RawPop3Session session(server.Port());
    EXPECT_EQ(session.ReadLine(), "");
    EXPECT_EQ(session.ReadLine(), "  ");
    EXPECT_EQ(session.ReadLine(), "+OK hi");
    EXPECT_THROW(session.ReadLine(), RawPop3Failure);
}

TEST(ScriptedServer, DripFeedsByteByByte) {
    ScriptedServer server({ServerDripFeeds("+OK slow\r\n", 20ms)});
    RawPop3Session session(server.Port());
    const auto start = Clock::now();
    EXPECT_EQ(session.ReadLine(), "+OK slow");
    // Ten bytes with 20 ms after each of the first nine: at least 180 ms.
    EXPECT_GE(Clock::now() - start, 150ms);
}

TEST(ScriptedServer, StaysSilentWhileStillRecording) {
    ScriptedServer server({ServerStaysSilent(300ms), ServerSays("+OK late")});
    {
        RawPop3Session session(server.Port());
        const auto start = Clock::now();
        session.SendLine("NOOP");
        EXPECT_EQ(session.ReadLine(), "+OK late");
        EXPECT_GE(Clock::now() - start, 250ms);
    }
    EXPECT_EQ(server.ReceivedBytes(), "NOOP\r\n");
}

TEST(ScriptedServer, SendsWithoutEndUntilTheClientCloses) {
    ScriptedServer server({ServerSays("+OK"), ServerSendsForever("ENDLESS-CAPABILITY")});
    {
        RawPop3Session session(server.Port());
        EXPECT_EQ(session.ReadLine(), "+OK");
        for (int i = 0; i < 5000; ++i)
            ASSERT_EQ(session.ReadLine(), "ENDLESS-CAPABILITY");
    }
    EXPECT_TRUE(server.WaitUntilDone(10s));
}

TEST(ScriptedServer, ServesOneScriptPerConnectionInTurn) {
    ScriptedServer server(std::vector<Script>{{ServerSays("+OK first")}, {ServerSays("+OK second")}});
    {
        RawPop3Session first(server.Port());
        EXPECT_EQ(first.ReadLine(), "+OK first");
    }
    RawPop3Session second(server.Port());
    EXPECT_EQ(second.ReadLine(), "+OK second");
}

TEST(ScriptedServer, StopsPromptlyWhileAClientHoldsTheConnection) {
    const auto start = Clock::now();
    {
        ScriptedServer server({ServerStaysSilent(60s)});
        RawPop3Session session(server.Port());
        EXPECT_FALSE(server.WaitUntilDone(100ms));
    }
    EXPECT_LT(Clock::now() - start, 10s);
}

// ---- Real servers ----

class RealPop3ServerTest : public ::testing::TestWithParam<RealPop3ServerKind> {
protected:
    void SetUp() override {
        if (!GetParam().available())
            GTEST_SKIP() << GetParam().name << " is not installed or we are not root";
        server_ = GetParam().start();
    }
    int32_t Count() { return RawPop3MessageCount(server_->Port(), server_->UserName(), server_->Password()); }

    std::unique_ptr<RealPop3Server> server_;
};

TEST_P(RealPop3ServerTest, StatGivesTheFilledCount) {
    for (int count : {0, 1, 3, 1234}) {
        server_->FillMailbox(count);
        EXPECT_EQ(Count(), count);
    }
    server_->AddMessage();
    EXPECT_EQ(Count(), 1235);
}

TEST_P(RealPop3ServerTest, WrongPasswordIsRefused) {
    RawPop3Session session(server_->Port());
    session.ReadLine();
    session.Command("USER " + server_->UserName());
    EXPECT_EQ(session.Command("PASS wrong").rfind("-ERR", 0), 0u);
}

TEST_P(RealPop3ServerTest, StoppedServerRefusesConnections) {
    server_->Stop();
    EXPECT_FALSE(server_->Running());
    EXPECT_THROW(RawPop3Session(server_->Port()), RawPop3Failure);
}

TEST_P(RealPop3ServerTest, InstancesRunSideBySide) {
    const std::unique_ptr<RealPop3Server> other = GetParam().start();
    EXPECT_NE(other->Port(), server_->Port());
    EXPECT_NE(other->Folder(), server_->Folder());
    server_->FillMailbox(2);
    other->FillMailbox(5);
    EXPECT_EQ(Count(), 2);
    EXPECT_EQ(RawPop3MessageCount(other->Port(), other->UserName(), other->Password()), 5);
}

INSTANTIATE_TEST_SUITE_P(Loopback, RealPop3ServerTest, ::testing::ValuesIn(kRealPop3ServerKinds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MailutilsPop3Server, GreetsWithATimeStamp) {
    if (!MailutilsPop3Server::Available())
        GTEST_SKIP() << "mailutils pop3d is not installed or we are not root";
    MailutilsPop3Server server;
    RawPop3Session session(server.Port());
    const std::string greeting = session.ReadLine();
    EXPECT_NE(greeting.find('<'), std::string::npos) << greeting;
    EXPECT_NE(greeting.find('>'), std::string::npos) << greeting;
}

} // namespace

// The POP3 session against real servers on loopback (Dovecot, and mailutils pop3d, which greets
// with a time stamp and answers "CAPA" its own way), one client reused for every check as the
// program reuses its one client.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "pop3/Pop3Client.h"
#include "pop3/Pop3Errors.h"
#include "tests/support/Pop3CheckRun.h"
#include "tests/support/Pop3RealServers.h"

namespace {

// The client aimed at the server, with its user's credentials.
void AimClientAt(TIdPOP3& client, const RealPop3Server& server) {
    AimClient(client, server.Port());
    client.SetUsername(Utf8ToText(server.UserName()));
    client.SetPassword(Utf8ToText(server.Password()));
}

class Pop3RealServerSession : public ::testing::TestWithParam<RealPop3ServerKind> {
protected:
    void SetUp() override {
        if (!GetParam().available())
            GTEST_SKIP() << GetParam().name << " is not installed or we are not root";
        server_ = GetParam().start();
        AimClientAt(client_, *server_);
    }

    std::unique_ptr<RealPop3Server> server_;
    TIdPOP3 client_;
};

TEST_P(Pop3RealServerSession, CountsTheMailbox) {
    for (int count : {0, 1, 3, 1234}) {
        server_->FillMailbox(count);
        const Pop3CheckOutcome outcome = RunCheck(client_);
        EXPECT_EQ(outcome.count, count) << outcome.Describe();
        EXPECT_FALSE(outcome.Failed()) << outcome.Describe();
        EXPECT_FALSE(outcome.openAtEnd);
    }
    server_->AddMessage();
    EXPECT_EQ(RunCheck(client_).count, 1235);
}

TEST_P(Pop3RealServerSession, WrongPasswordIsRefusedAndTheSessionClosedWithoutQuit) {
    client_.SetPassword(u"wrong");
    try {
        client_.ConnectAndLogIn();
        FAIL() << "signed in with a wrong password";
    } catch (const EIdReplyPOP3Error& error) {
        EXPECT_EQ(error.FailedReplyCode(), u"-ERR");
    }
    // Closed by the session itself, before the check could say "QUIT".
    EXPECT_FALSE(client_.TcpConnectionIsOpen());
    EXPECT_EQ(client_.LastReply().Code(), u"-ERR");
    // The same client signs in at the next check.
    client_.SetPassword(Utf8ToText(server_->Password()));
    server_->FillMailbox(2);
    EXPECT_EQ(RunCheck(client_).count, 2);
}

TEST_P(Pop3RealServerSession, StoppedServerFailsTheCheck) {
    server_->Stop();
    const Pop3CheckOutcome outcome = RunCheck(client_);
    EXPECT_TRUE(outcome.FailedWith<EIdSocketError>()) << outcome.Describe();
    EXPECT_FALSE(outcome.openAtEnd);
}

INSTANTIATE_TEST_SUITE_P(Loopback, Pop3RealServerSession, ::testing::ValuesIn(kRealPop3ServerKinds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Pop3RealServerSessionFields, DovecotListsItsCapabilities) {
    if (!DovecotServer::Available())
        GTEST_SKIP() << "Dovecot is not installed or we are not root";
    DovecotServer server;
    TIdPOP3 client;
    AimClientAt(client, server);
    client.ConnectAndLogIn();
    EXPECT_TRUE(client.ServerAnsweredCapa());
    const auto& list = client.ServerCapabilityList();
    EXPECT_NE(std::find(list.begin(), list.end(), u"USER"), list.end());
    client.CloseSession(true);
    EXPECT_FALSE(client.TcpConnectionIsOpen());
}

TEST(Pop3RealServerSessionFields, DovecotTakesUserNameAndPasswordBeyondAscii) {
    if (!DovecotServer::Available())
        GTEST_SKIP() << "Dovecot is not installed or we are not root";
    DovecotServer server;
    server.FillMailbox(2);
    TIdPOP3 client;
    AimClient(client, server.Port());
    client.SetUsername(Utf8ToText(DovecotServer::Utf8UserName));
    client.SetPassword(Utf8ToText(DovecotServer::Utf8Password));
    const Pop3CheckOutcome outcome = RunCheck(client);
    EXPECT_EQ(outcome.count, 2) << outcome.Describe();
}

TEST(Pop3RealServerSessionFields, MailutilsGreetsWithATimeStamp) {
    if (!MailutilsPop3Server::Available())
        GTEST_SKIP() << "mailutils pop3d is not installed or we are not root";
    MailutilsPop3Server server;
    TIdPOP3 client;
    AimClientAt(client, server);
    client.ConnectAndLogIn();
    EXPECT_TRUE(client.ServerOffersApop());
    EXPECT_EQ(client.ApopTimestamp().front(), u'<');
    EXPECT_EQ(client.ApopTimestamp().back(), u'>');
    client.CloseSession(true);
}

} // namespace

// The IMAP client against real servers on loopback: Dovecot (plain, STARTTLS, TLS from the first
// byte, with the per-run test authority) and GNU mailutils imap4d. Each counts the unseen
// messages of a mailbox with seen ones in it, and lets a user whose name and password hold a
// double quote, a backslash and "å" sign in; Dovecot also pushes a delivery during IDLE.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <regex>

#include "imap/ImapClient.h"
#include "imap/ImapErrors.h"
#include "tests/support/ImapCheckRun.h"
#include "tests/support/Pop3RawSession.h"
#include "tests/support/Pop3RealServers.h"
#include "tests/support/TestCertificates.h"

namespace {

using namespace std::chrono_literals;

struct RealServerCase {
    const char* name;
    bool mailutils;
    TIdUseTLS useTls;
    const char* specialUser; // the login name of the user with the awkward name
};

const std::string kSpecialDovecot = DovecotServer::SpecialUserName;
const std::string kSpecialMailutils = std::string(DovecotServer::SpecialUserName) + "@bg.test";

const RealServerCase kRealServerCases[] = {
    {"DovecotPlain", false, utNoTLSSupport, kSpecialDovecot.c_str()},
    {"DovecotStartTls", false, utUseRequireTLS, kSpecialDovecot.c_str()},
    {"DovecotImplicitTls", false, utUseImplicitTLS, kSpecialDovecot.c_str()},
    {"MailutilsPlain", true, utNoTLSSupport, kSpecialMailutils.c_str()},
    {"MailutilsStartTls", true, utUseRequireTLS, kSpecialMailutils.c_str()},
    {"MailutilsImplicitTls", true, utUseImplicitTLS, kSpecialMailutils.c_str()},
};

class ImapRealServer : public testing::TestWithParam<RealServerCase> {
protected:
    void SetUp() override {
        TestCertificates::Get(); // trusted before the first handshake of the process
        const RealServerCase& c = GetParam();
        if (!(c.mailutils ? MailutilsImapServer::Available() : DovecotServer::Available()))
            GTEST_SKIP() << "the server is not installed or we are not root";
        if (c.mailutils) {
            auto server = std::make_unique<MailutilsImapServer>();
            tlsPort_ = server->TlsPort();
            server_ = std::move(server);
        } else {
            auto server = std::make_unique<DovecotServer>(DovecotServer::Options{false, true, true});
            tlsPort_ = server->TlsPort();
            server_ = std::move(server);
        }
        server_->FillMailbox(5);
        if (c.mailutils)
            MarkSeenThroughServer(2);
        else
            server_->MarkSeen(2);
    }

    // imap4d keeps no flags that another writer set in the maildir: set them through it.
    void MarkSeenThroughServer(int count) {
        RawPop3Session session(server_->Port());
        session.ReadLine();
        for (const std::string& command :
             {"a LOGIN " + server_->UserName() + " " + server_->Password(), std::string("b SELECT INBOX"),
              "c STORE 1:" + std::to_string(count) + " +FLAGS (\\Seen)", std::string("d LOGOUT")}) {
            session.SendLine(command);
            const std::string tag = command.substr(0, 2);
            std::string line;
            do
                line = session.ReadLine();
            while (line.rfind(tag, 0) != 0);
            ASSERT_EQ(line.substr(2, 2), "OK") << line;
        }
    }

    void Aim(ImapClient& client, const std::string& user, const std::string& password) {
        AimClient(client, GetParam().useTls == utUseImplicitTLS ? tlsPort_ : server_->Port());
        client.SetUseTLS(GetParam().useTls);
        client.SetUsername(Utf8ToText(user));
        client.SetPassword(Utf8ToText(password));
    }

    std::unique_ptr<RealPop3Server> server_;
    uint16_t tlsPort_ = 0;
};

TEST_P(ImapRealServer, CountsUnseenAndSignsInAwkwardUser) {
    for (const bool special : {false, true}) {
        ImapClient client;
        if (special)
            Aim(client, GetParam().specialUser, DovecotServer::SpecialPassword);
        else
            Aim(client, server_->UserName(), server_->Password());
        const Pop3CheckOutcome outcome = RunImapCheck(client);
        ASSERT_FALSE(outcome.Failed()) << (special ? "special user: " : "") << outcome.Describe();
        EXPECT_EQ(outcome.count, 3);
        EXPECT_FALSE(outcome.openAtEnd);
    }
}

TEST_P(ImapRealServer, WrongPasswordCarriesServerText) {
    ImapClient client;
    Aim(client, server_->UserName(), "wrong");
    const Pop3CheckOutcome outcome = RunImapCheck(client);
    EXPECT_TRUE(outcome.FailedWith<ImapReplyError>()) << outcome.Describe();
    EXPECT_FALSE(outcome.FailureMessage().empty());
    EXPECT_FALSE(outcome.openAtEnd);
}

// The notice's fetch, bounded in size, as each server answers it: the newest unseen first.
TEST_P(ImapRealServer, FetchesTheHeadersOfTheNewestUnseen) {
    if (GetParam().mailutils)
        GTEST_SKIP() << "imap4d answers every header fetch of these messages with an empty header";
    ImapClient client;
    Aim(client, server_->UserName(), server_->Password());
    client.ConnectAndLogIn();
    client.ExamineInbox();
    const std::vector<NewMessageHeader> headers = client.RetrieveNewHeaders(3, 2, 3);
    ASSERT_EQ(headers.size(), 2u);
    for (const NewMessageHeader& message : headers) {
        EXPECT_EQ(message.header.substr(0, 39), "From: sender@bg.test\r\nSubject: Message ")
            << testing::PrintToString(message.header);
        EXPECT_TRUE(std::regex_match(message.id, std::regex("[0-9]+/[0-9]+")))
            << message.id; // UIDVALIDITY/UID
    }
    client.CloseSession();
}

// Dovecot pushes a delivery to a session in IDLE; imap4d accepts IDLE but pushes nothing.
TEST_P(ImapRealServer, IdleSeesDelivery) {
    if (GetParam().mailutils)
        GTEST_SKIP() << "imap4d pushes nothing during IDLE";
    ImapClient client;
    Aim(client, server_->UserName(), server_->Password());
    client.ConnectAndLogIn();
    ASSERT_TRUE(client.HasCapability(u"IDLE"));
    client.ExamineInbox();
    EXPECT_EQ(client.CountUnseenInSelected(), 3);
    client.StartIdle();
    EXPECT_FALSE(client.PollIdle(0));
    server_->AddMessage();
    bool pushed = false;
    for (int i = 0; i < 30 && !pushed; ++i)
        pushed = client.PollIdle(100);
    EXPECT_TRUE(pushed);
    client.StopIdle();
    EXPECT_EQ(client.CountUnseenInSelected(), 4);
    client.StartIdle();
    client.CloseSession();
    EXPECT_FALSE(client.TcpConnectionIsOpen());
}

INSTANTIATE_TEST_SUITE_P(Servers, ImapRealServer, testing::ValuesIn(kRealServerCases),
                         [](const testing::TestParamInfo<RealServerCase>& info) { return info.param.name; });

} // namespace

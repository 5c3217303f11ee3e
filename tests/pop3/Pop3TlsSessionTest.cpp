// The POP3 session over TLS: against a private Dovecot with the test certificates (implicit TLS
// and STLS, every certificate fault, resumption), and against the scripted server for what no
// real server does (no STLS, a refusal, bytes injected after the "+OK" to "STLS", a handshake
// never answered).

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mail/MailErrors.h"
#include "pop3/Pop3Client.h"
#include "pop3/Pop3Errors.h"
#include "tests/support/Pop3CheckRun.h"
#include "tests/support/Pop3RealServers.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TestSockets.h"

namespace {

using namespace std::chrono_literals;

class Pop3TlsDovecot : public ::testing::Test {
protected:
    void SetUp() override {
        TestCertificates::Get(); // trusted before the first handshake of the process
        if (!DovecotServer::Available())
            GTEST_SKIP() << "Dovecot is not installed or we are not root";
        server_ =
            std::make_unique<DovecotServer>(DovecotServer::Options{.keepLoginProcesses = true, .tls = true});
        server_->FillMailbox(3);
    }

    // The client aimed at host:port of the server with its user's credentials.
    void Aim(TIdPOP3& client, TIdUseTLS useTLS, const std::u16string& host, bool implicitPort) {
        AimClient(client, implicitPort ? server_->TlsPort() : server_->Port());
        client.SetUseTLS(useTLS);
        client.SetHost(host);
        client.SetUsername(Utf8ToText(server_->UserName()));
        client.SetPassword(Utf8ToText(server_->Password()));
    }

    std::unique_ptr<DovecotServer> server_;
};

TEST_F(Pop3TlsDovecot, CountsOverImplicitTlsAndStls) {
    struct Case {
        const char* name;
        TIdUseTLS useTLS;
        bool implicitPort;
        std::u16string host = u"127.0.0.1";
    };
    for (const Case& c :
         {Case{"implicit", utUseImplicitTLS, true}, Case{"STLS required", utUseRequireTLS, false},
          Case{"STLS offered", utUseExplicitTLS, false},
          Case{"implicit over IPv6", utUseImplicitTLS, true, u"::1"},
          Case{"STLS over IPv6", utUseRequireTLS, false, u"::1"}}) {
        SCOPED_TRACE(c.name);
        TIdPOP3 client;
        Aim(client, c.useTLS, c.host, c.implicitPort);
        client.ConnectAndLogIn();
        EXPECT_TRUE(client.TlsActive());
        EXPECT_EQ(client.QueryMessageCount(), 3);
        client.CloseSession(true);
        EXPECT_FALSE(client.TcpConnectionIsOpen());
    }
}

TEST_F(Pop3TlsDovecot, FaultyCertificatesFailWithTheirReasonBeforeSignIn) {
    struct Case {
        std::u16string host;
        std::u16string message;
    };
    const std::vector<Case> cases = {
        // Its certificate names localhost only as the common name, without a subjectAltName.
        {u"localhost", u"Host name mismatch: localhost"},
        {u"127.0.0.2", u"Certificate has expired."},
        {u"127.0.0.3", u"Certificate issued by an unknown authority."},
    };
    for (const Case& c : cases) {
        for (const bool implicitPort : {true, false}) {
            SCOPED_TRACE(TextToUtf8(c.host) + (implicitPort ? " implicit" : " STLS"));
            TIdPOP3 client;
            Aim(client, implicitPort ? utUseImplicitTLS : utUseRequireTLS, c.host, implicitPort);
            const Pop3CheckOutcome outcome = RunCheck(client);
            EXPECT_TRUE(outcome.FailedWith<EIdTLSCertificateRejected>()) << outcome.Describe();
            EXPECT_EQ(outcome.FailureMessage(), c.message);
            EXPECT_FALSE(outcome.openAtEnd);
        }
    }
    // Not one of those connections got as far as a user name.
    server_->Stop();
    std::ifstream log(server_->Folder() / "dovecot.log");
    const std::string text((std::istreambuf_iterator<char>(log)), {});
    EXPECT_EQ(text.find("user=<u>"), std::string::npos) << text;
}

TEST_F(Pop3TlsDovecot, SecondCheckResumesTheSessionOfTheFirst) {
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine's system TLS does not tell whether a session was resumed";
    for (const bool implicitPort : {true, false}) {
        SCOPED_TRACE(implicitPort ? "implicit" : "STLS");
        TIdPOP3 client;
        Aim(client, implicitPort ? utUseImplicitTLS : utUseRequireTLS, u"127.0.0.1", implicitPort);
        std::vector<bool> reused;
        for (int check = 0; check < 3; ++check) {
            const Pop3CheckOutcome outcome = RunCheck(client);
            EXPECT_EQ(outcome.count, 3) << outcome.Describe();
            reused.push_back(client.TlsSessionReused());
        }
        EXPECT_EQ(reused, (std::vector<bool>{false, true, true}));
        // A session is offered only to the server it came from.
        client.SetHost(u"localhost");
        RunCheck(client);
        EXPECT_FALSE(client.TlsSessionReused());
    }
}

// ---- Scripted servers ----

const Script kPlainCapa = {ServerSays("+OK ready"), ClientSends("CAPA"), ServerSays("+OK"),
                           ServerSays("USER"), ServerSays(".")};
const Script kStlsCapa = {
    ServerSays("+OK ready"),           ClientSends("CAPA"), ServerSays("+OK"), ServerSays("STLS"),
    ServerSays("X-SAID-IN-THE-CLEAR"), ServerSays(".")};

Script Join(std::initializer_list<Script> parts) {
    Script joined;
    for (const Script& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

TEST(Pop3TlsScripted, TlsRequiredButNotToBeHadFailsBeforeUser) {
    struct Case {
        const char* name;
        Script script;
        std::u16string message;
    };
    const std::vector<Case> cases = {
        {"plain-only server", Join({kPlainCapa, {ClientSends("STLS"), ServerSays("-ERR unknown command")}}),
         u"Server does not offer STLS."},
        {"refusal", Join({kStlsCapa, {ClientSends("STLS"), ServerSays("-ERR [SYS/TEMP] not now")}}),
         u"Server refused STLS: not now"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(c.script);
        TIdPOP3 client;
        AimClient(client, server.Port());
        client.SetUseTLS(utUseRequireTLS);
        const Pop3CheckOutcome outcome = RunCheck(client);
        EXPECT_TRUE(outcome.FailedWith<EIdTLSUnavailable>()) << outcome.Describe();
        EXPECT_EQ(outcome.FailureMessage(), c.message);
        EXPECT_EQ(server.ReceivedBytes(), "CAPA\r\nSTLS\r\n");
    }
}

TEST(Pop3TlsScripted, ExplicitTlsStaysPlainWhenTheServerDoesNotOfferIt) {
    const Script script =
        Join({kPlainCapa,
              {ClientSends("USER u"), ServerSays("+OK"), ClientSends("PASS p"), ServerSays("+OK"),
               ClientSends("STAT"), ServerSays("+OK 2 20"), ClientSends("QUIT"), ServerSays("+OK")}});
    ScriptedServer server(script);
    TIdPOP3 client;
    AimClient(client, server.Port());
    client.SetUseTLS(utUseExplicitTLS);
    EXPECT_EQ(RunCheck(client).count, 2);
    EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script));
}

// A man in the middle adds a reply right behind the "+OK" to "STLS", in the same segment. Taken
// for the answer to the "CAPA" over TLS it would put every later reply one step off.
TEST(Pop3TlsScripted, BytesAfterTheStlsReplyAreDroppedAndCapaIsAskedAgainOverTls) {
    if (!ScriptedServer::CanServeTls())
        GTEST_SKIP() << "the scripted server cannot serve TLS in this build";
    TestCertificates::Get();
    const Script script = Join(
        {kStlsCapa,
         {ClientSends("STLS"), ServerSendsBytes("+OK begin TLS\r\n-ERR injected\r\n"), ServerStartsTls(),
          ClientSends("CAPA"), ServerSays("+OK"), ServerSays("USER"), ServerSays("X-SAID-OVER-TLS"),
          ServerSays("."), ClientSends("USER u"), ServerSays("+OK"), ClientSends("PASS p"), ServerSays("+OK"),
          ClientSends("STAT"), ServerSays("+OK 2 20"), ClientSends("QUIT"), ServerSays("+OK")}});
    ScriptedServer server(script);
    TIdPOP3 client;
    AimClient(client, server.Port());
    client.SetUseTLS(utUseRequireTLS);
    const Pop3CheckOutcome outcome = RunCheck(client);
    EXPECT_EQ(outcome.count, 2) << outcome.Describe();
    EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script));
    EXPECT_EQ(client.ServerCapabilityList(), (std::vector<std::u16string>{u"USER", u"X-SAID-OVER-TLS"}));
}

std::chrono::milliseconds ThreadCpuTime() {
#ifdef _WIN32
    return {};
#else
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::seconds(now.tv_sec) +
                                                                 std::chrono::nanoseconds(now.tv_nsec));
#endif
}

// A record whose tail is held back is waited for on the socket: the check goes on when the rest
// comes, or fails at the read time-out, and burns no CPU time meanwhile.
TEST(Pop3TlsScripted, RecordCutShortIsWaitedForWithoutSpinning) {
    if (!ScriptedServer::CanServeTls())
        GTEST_SKIP() << "the scripted server cannot serve TLS in this build";
    TestCertificates::Get();
    struct Case {
        const char* name;
        std::chrono::milliseconds heldBack;
        int32_t readTimeoutMs;
        bool counts;
    };
    for (const Case& c :
         {Case{"the rest comes", 1500ms, 5000, true}, Case{"it never comes", 5000ms, 1500, false}}) {
        SCOPED_TRACE(c.name);
        const Script script = {ServerStartsTls(),     ServerSendsRecordCutShort("+OK ready", c.heldBack),
                               ClientSends("CAPA"),   ServerSays("+OK"),
                               ServerSays("USER"),    ServerSays("."),
                               ClientSends("USER u"), ServerSays("+OK"),
                               ClientSends("PASS p"), ServerSays("+OK"),
                               ClientSends("STAT"),   ServerSays("+OK 2 20"),
                               ClientSends("QUIT"),   ServerSays("+OK")};
        ScriptedServer server(script);
        TIdPOP3 client;
        AimClient(client, server.Port(), c.readTimeoutMs);
        client.SetUseTLS(utUseImplicitTLS);
        const auto cpuBefore = ThreadCpuTime();
        const Pop3CheckOutcome outcome = RunCheck(client);
        const auto cpu = ThreadCpuTime() - cpuBefore;
        if (c.counts)
            EXPECT_EQ(outcome.count, 2) << outcome.Describe();
        else
            EXPECT_TRUE(outcome.FailedWith<EIdReadTimeout>()) << outcome.Describe();
        EXPECT_GE(outcome.duration, 1500ms);
        EXPECT_LT(cpu, 300ms) << "over " << outcome.duration.count() << " ms";
    }
}

TEST(Pop3TlsScripted, HandshakeNeverAnsweredFailsAtTheReadTimeout) {
    ScriptedServer server(Script{ServerStaysSilent(3s)});
    TIdPOP3 client;
    AimClient(client, server.Port(), 500);
    client.SetUseTLS(utUseImplicitTLS);
    const Pop3CheckOutcome outcome = RunCheck(client);
    EXPECT_TRUE(outcome.FailedWith<EIdReadTimeout>()) << outcome.Describe();
    EXPECT_GE(outcome.duration, 500ms);
    EXPECT_LT(outcome.duration, 2000ms);
    EXPECT_FALSE(outcome.openAtEnd);
}

} // namespace

// The IMAP session against the scripted server: the check and the watch as transcripts, every
// way a server can misbehave, with the exact bytes the client sent. Where the client must not
// go on (no LOGOUT after a failed sign-in, no password after LOGINDISABLED), the script has no
// such line, and bytes sent anyway would show up in the recorded ones.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "imap/ImapClient.h"
#include "imap/ImapErrors.h"
#include "mail/BearerSasl.h"
#include "mail/MailErrors.h"
#include "tests/support/ImapCheckRun.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestCertificates.h"

namespace {

using namespace std::chrono_literals;

const Script kGreeting = {ServerSays("* OK [CAPABILITY IMAP4rev1 IDLE] ready")};
const Script kLogin = {ClientSends("A1 LOGIN \"u\" \"p\""),
                       ServerTagged("OK [CAPABILITY IMAP4rev1 IDLE] in")};
const Script kStatus3 = {ClientSends("A2 STATUS INBOX (UNSEEN)"),
                         ServerSays("* STATUS INBOX (MESSAGES 5 UNSEEN 3)"), ServerTagged("OK done")};
Script Logout(const std::string& tag) {
    return {ClientSends(tag + " LOGOUT"), ServerSays("* BYE bye"), ServerTagged("OK done")};
}

enum class Failure { kNone, kRefused, kProtocol, kTimeout, kFlood, kLiteral, kTls, kToken };

// XOAUTH2's initial response for the user "u" and the token "tok".
const std::string kXOAuth2 = "dXNlcj11AWF1dGg9QmVhcmVyIHRvawEB";

struct CheckCase {
    const char* name;
    Script script;
    int32_t unseen = -1; // the count, when the check succeeds
    Failure failure = Failure::kNone;
    std::u16string message = {}; // the failure's message, when it matters
    const char* user = "u";
    const char* password = "p";
    TIdUseTLS useTls = utNoTLSSupport;
    const char16_t* token = u"";
    bool shortWaits = false; // 500 ms for an answer, 1.5 s for the sign-in's
};

const CheckCase kCheckCases[] = {
    {"CapabilitiesAskedWhenGreetingHasNone",
     JoinScripts(
         {{ServerSays("* OK ready"), ClientSends("A1 CAPABILITY"), ServerSays("* CAPABILITY IMAP4rev1 IDLE"),
           ServerTagged("OK done"), ClientSends("A2 LOGIN \"u\" \"p\""), ServerTagged("OK in"),
           ClientSends("A3 CAPABILITY"), ServerSays("* CAPABILITY IMAP4rev1 IDLE ESEARCH"),
           ServerTagged("OK done"), ClientSends("A4 STATUS INBOX (UNSEEN)"),
           ServerSays("* STATUS \"INBOX\" (UNSEEN 0)"), ServerTagged("OK done")},
          Logout("A5")}),
     0},
    {"QuotesAndBackslashesEscaped",
     JoinScripts(
         {kGreeting,
          {ClientSends(R"(A1 LOGIN "k\"l\\e" "p\\a\"s")"), ServerTagged("OK [CAPABILITY IMAP4rev1] in")},
          kStatus3,
          Logout("A3")}),
     3,
     Failure::kNone,
     {},
     "k\"l\\e",
     "p\\a\"s"},
    {"EightBitAsSynchronizingLiterals",
     JoinScripts({kGreeting,
                  {ClientSends("A1 LOGIN {3}"), ServerSays("+ go on"), ClientSends("k\xc3\xa5 {4}"),
                   ServerSays("* OK [ALERT] noise between"), ServerSays("+ go on"),
                   ClientSends("\xc3\xa5\x01p"), ServerTagged("OK [CAPABILITY IMAP4rev1] in")},
                  kStatus3,
                  Logout("A3")}),
     3,
     Failure::kNone,
     {},
     "k\xc3\xa5",
     "\xc3\xa5\x01p"},
    {"LiteralPlusSentInOneGo",
     JoinScripts({{ServerSays("* OK [CAPABILITY IMAP4rev1 LITERAL+] ready"), ClientSends("A1 LOGIN {3+}"),
                   ClientSends("k\xc3\xa5 \"p\""), ServerTagged("OK [CAPABILITY IMAP4rev1] in")},
                  kStatus3,
                  Logout("A3")}),
     3,
     Failure::kNone,
     {},
     "k\xc3\xa5"},
    {"PreauthSignsInNoMore",
     JoinScripts({{ServerSays("* PREAUTH [CAPABILITY IMAP4rev1] welcome back"),
                   ClientSends("A1 STATUS INBOX (UNSEEN)"), ServerSays("* STATUS INBOX (UNSEEN 7)"),
                   ServerTagged("OK done")},
                  Logout("A2")}),
     7},
    {"RefusedLoginCarriesServerText",
     JoinScripts({kGreeting,
                  {ClientSends("A1 LOGIN \"u\" \"p\""),
                   ServerTagged("NO [AUTHENTICATIONFAILED] Authentication failed.")}}),
     -1, Failure::kRefused, u"Authentication failed."},
    {"LoginDisabledSendsNoPassword",
     {ServerSays("* OK [CAPABILITY IMAP4rev1 LOGINDISABLED] ready")},
     -1,
     Failure::kProtocol},
    {"ByeInGreeting",
     {ServerSays("* BYE [UNAVAILABLE] Too many connections")},
     -1,
     Failure::kRefused,
     u"Too many connections"},
    {"ByeMidSession",
     JoinScripts({kGreeting,
                  kLogin,
                  {ClientSends("A2 STATUS INBOX (UNSEEN)"), ServerSays("* BYE Server shutting down")}}),
     -1, Failure::kRefused, u"Server shutting down"},
    {"StatusWithoutUnseen",
     JoinScripts({kGreeting,
                  kLogin,
                  {ClientSends("A2 STATUS INBOX (UNSEEN)"), ServerSays("* STATUS Other (UNSEEN 4)"),
                   ServerSays("* STATUS INBOX (MESSAGES 4)"), ServerTagged("OK done")},
                  Logout("A3")}),
     -1, Failure::kProtocol},
    {"CountBeyondRange",
     JoinScripts({kGreeting,
                  kLogin,
                  {ClientSends("A2 STATUS INBOX (UNSEEN)"), ServerSays("* STATUS INBOX (UNSEEN 2147483648)"),
                   ServerTagged("OK done")},
                  Logout("A3")}),
     -1, Failure::kProtocol},
    {"ReplyWithAnotherTag",
     JoinScripts({kGreeting, kLogin, {ClientSends("A2 STATUS INBOX (UNSEEN)"), ServerSays("A9 OK done")}}),
     -1, Failure::kProtocol},
    {"NoTaggedReply",
     JoinScripts({kGreeting, kLogin, {ClientSends("A2 STATUS INBOX (UNSEEN)"), ServerStaysSilent(2s)}}), -1,
     Failure::kTimeout},
    {"EndlessUntaggedLines",
     JoinScripts({kGreeting,
                  kLogin,
                  {ClientSends("A2 STATUS INBOX (UNSEEN)"), ServerSendsForever("* OK still here")}}),
     -1, Failure::kFlood},
    {"OversizedLiteral",
     JoinScripts(
         {kGreeting, kLogin, {ClientSends("A2 STATUS INBOX (UNSEEN)"), ServerSays("* STATUS {4294967296}")}}),
     -1, Failure::kLiteral},
    {"DrippedRepliesRunIntoTheSessionLimit",
     JoinScripts({kGreeting,
                  kLogin,
                  {ClientSends("A2 STATUS INBOX (UNSEEN)"), ServerDripFeeds(std::string(200, 'x'), 20ms)}}),
     -1, Failure::kTimeout},
    {"StartTlsRequiredButRefused",
     {ServerSays("* OK [CAPABILITY IMAP4rev1] ready"), ClientSends("A1 STARTTLS"),
      ServerTagged("BAD unknown")},
     -1,
     Failure::kTls,
     u"Server does not offer STARTTLS.",
     "u",
     "p",
     utUseRequireTLS},
    {"TokenWithInitialResponse",
     JoinScripts(
         {{ServerSays("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2 AUTH=OAUTHBEARER] ready"),
           ClientSends("A1 AUTHENTICATE XOAUTH2 " + kXOAuth2), ServerTagged("OK [CAPABILITY IMAP4rev1] in")},
          kStatus3,
          Logout("A3")}),
     3,
     Failure::kNone,
     {},
     "u",
     "p",
     utNoTLSSupport,
     u"tok"},
    {"TokenRefusedAfterChallenge",
     {ServerSays("* OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] ready"), ClientSends("A1 AUTHENTICATE XOAUTH2"),
      ServerSays("+ "), ClientSends(kXOAuth2), ServerSays("+ eyJzdGF0dXMiOiI0MDEifQ=="), ClientSends(""),
      ServerTagged("NO [AUTHENTICATIONFAILED] Invalid credentials")},
     -1,
     Failure::kToken,
     u"Invalid credentials",
     "u",
     "p",
     utNoTLSSupport,
     u"tok"},
    // Servers hold back the refusal of a wrong password: longer than an ordinary wait.
    {"LoginRefusedLate",
     JoinScripts({kGreeting,
                  {ClientSends("A1 LOGIN \"u\" \"p\""), ServerStaysSilent(1s),
                   ServerTagged("NO [AUTHENTICATIONFAILED] Authentication failed.")}}),
     -1, Failure::kRefused, u"Authentication failed.", "u", "p", utNoTLSSupport, u"", true},
    {"TokenContinuationAndRefusalLate",
     {ServerSays("* OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] ready"), ClientSends("A1 AUTHENTICATE XOAUTH2"),
      ServerStaysSilent(1s), ServerSays("+ "), ClientSends(kXOAuth2), ServerStaysSilent(1s),
      ServerTagged("NO [AUTHENTICATIONFAILED] Invalid credentials")},
     -1,
     Failure::kToken,
     u"Invalid credentials",
     "u",
     "p",
     utNoTLSSupport,
     u"tok",
     true},
};

class ImapCheck : public testing::TestWithParam<CheckCase> {};

TEST_P(ImapCheck, Transcript) {
    const CheckCase& c = GetParam();
    ScriptedServer server(c.script);
    ImapClient client;
    AimClient(client, server.Port(), c.failure == Failure::kTimeout || c.shortWaits ? 500 : 5000);
    client.SetSessionTimeLimit(c.shortWaits ? 3s : 1500ms);
    client.SetUseTLS(c.useTls);
    client.SetUsername(Utf8ToText(c.user));
    client.SetPassword(Utf8ToText(c.password));
    client.SetAccessToken(c.token);
    const Pop3CheckOutcome outcome = RunImapCheck(client);

    switch (c.failure) {
    case Failure::kNone:
        ASSERT_FALSE(outcome.Failed()) << outcome.Describe();
        EXPECT_EQ(outcome.count, c.unseen);
        break;
    case Failure::kRefused:
        EXPECT_TRUE(outcome.FailedWith<ImapReplyError>()) << outcome.Describe();
        break;
    case Failure::kProtocol:
        EXPECT_TRUE(outcome.FailedWith<ImapProtocolError>()) << outcome.Describe();
        break;
    case Failure::kTimeout:
        EXPECT_TRUE(outcome.FailedWith<EIdReadTimeout>()) << outcome.Describe();
        break;
    case Failure::kFlood:
        // Whichever bound comes first: the count of untagged lines, or (slower, under Wine) the
        // session limit.
        EXPECT_TRUE(outcome.FailedWith<EIdMaxCaptureLineExceeded>() || outcome.FailedWith<EIdReadTimeout>())
            << outcome.Describe();
        break;
    case Failure::kLiteral:
        EXPECT_TRUE(outcome.FailedWith<ImapLiteralTooLarge>()) << outcome.Describe();
        break;
    case Failure::kTls:
        EXPECT_TRUE(outcome.FailedWith<EIdTLSUnavailable>()) << outcome.Describe();
        break;
    case Failure::kToken:
        EXPECT_TRUE(outcome.FailedWith<EBearerTokenRejected>()) << outcome.Describe();
        break;
    }
    if (!c.message.empty()) {
        EXPECT_EQ(outcome.FailureMessage(), c.message);
    }
    EXPECT_FALSE(outcome.openAtEnd);
    EXPECT_LT(outcome.duration, 4s);
    if (c.failure != Failure::kFlood) {
        EXPECT_EQ(server.ReceivedBytes(), ClientBytes(c.script));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ImapCheck, testing::ValuesIn(kCheckCases),
                         [](const testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

// STARTTLS over the scripted server's TLS: what the server sent after its OK, in the clear, is
// dropped (here a forged capability list offering plain AUTH and a forged tagged reply), and
// the capabilities are asked for again inside TLS.
TEST(ImapStartTls, DropsBytesInjectedAfterTheOkAndAsksCapabilitiesAgain) {
    if (!ScriptedServer::CanServeTls())
        GTEST_SKIP() << "the scripted server cannot serve TLS in this build";
    TestCertificates::Get();
    const Script script = JoinScripts(
        {{ServerSays("* OK [CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED] ready"), ClientSends("A1 STARTTLS"),
          ServerSendsBytes("A1 OK Begin TLS\r\n* CAPABILITY IMAP4rev1 LITERAL+\r\nA2 OK forged\r\n"),
          ServerStartsTls(), ClientSends("A2 CAPABILITY"), ServerSays("* CAPABILITY IMAP4rev1 IDLE"),
          ServerTagged("OK done"), ClientSends("A3 LOGIN \"k\\\"\" \"p\""),
          ServerTagged("OK [CAPABILITY IMAP4rev1 IDLE] in"), ClientSends("A4 STATUS INBOX (UNSEEN)"),
          ServerSays("* STATUS INBOX (UNSEEN 2)"), ServerTagged("OK done")},
         Logout("A5")});
    ScriptedServer server(script);
    ImapClient client;
    AimClient(client, server.Port());
    client.SetUseTLS(utUseRequireTLS);
    client.SetUsername(u"k\"");
    const Pop3CheckOutcome outcome = RunImapCheck(client);
    ASSERT_FALSE(outcome.Failed()) << outcome.Describe();
    EXPECT_EQ(outcome.count, 2);
    EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script));
}

// The watch's conversation: EXAMINE, a count, IDLE; a push ends the wait, DONE and a new count;
// a server that says BYE during IDLE ends the watch with its text.
TEST(ImapWatch, IdlesCountsOnPushAndEndsOnBye) {
    const Script script = JoinScripts({kGreeting,
                                       {ClientSends("A1 LOGIN \"u\" \"p\""),
                                        ServerTagged("OK [CAPABILITY IMAP4rev1 IDLE ESEARCH] in"),
                                        ClientSends("A2 EXAMINE INBOX"),
                                        ServerSays("* 5 EXISTS"),
                                        ServerTagged("OK [READ-ONLY] done"),
                                        ClientSends("A3 SEARCH RETURN (COUNT) UNSEEN"),
                                        ServerSays("* ESEARCH (TAG \"A3\") COUNT 2"),
                                        ServerTagged("OK done"),
                                        ClientSends("A4 IDLE"),
                                        ServerSays("+ idling"),
                                        ServerStaysSilent(300ms),
                                        ServerSays("* OK Still here"),
                                        ServerSays("* 6 EXISTS"),
                                        ClientSends("DONE"),
                                        ServerTagged("OK idle done"),
                                        ClientSends("A5 SEARCH RETURN (COUNT) UNSEEN"),
                                        ServerSays("* ESEARCH (TAG \"A5\") UID"),
                                        ServerTagged("OK done"),
                                        ClientSends("A6 IDLE"),
                                        ServerSays("+ idling"),
                                        ServerSays("* BYE Shutting down")}});
    ScriptedServer server(script);
    ImapClient client;
    AimClient(client, server.Port());
    client.ConnectAndLogIn();
    ASSERT_TRUE(client.HasCapability(u"idle"));
    client.ExamineInbox();
    EXPECT_EQ(client.CountUnseenInSelected(), 2);
    client.StartIdle();
    EXPECT_FALSE(client.PollIdle(0));
    EXPECT_FALSE(client.PollIdle(100));
    bool pushed = false;
    for (int i = 0; i < 20 && !pushed; ++i)
        pushed = client.PollIdle(200);
    EXPECT_TRUE(pushed);
    client.StopIdle();
    EXPECT_EQ(client.CountUnseenInSelected(), 0);
    client.StartIdle();
    try {
        for (int i = 0; i < 20; ++i)
            client.PollIdle(200);
        ADD_FAILURE() << "BYE was not raised";
    } catch (const ImapReplyError& bye) {
        EXPECT_EQ(bye.Status(), u"BYE");
        EXPECT_EQ(bye.Message(), u"Shutting down");
    }
    EXPECT_FALSE(client.TcpConnectionIsOpen());
    EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script));
}

// A count taken without ESEARCH is taken again when a message arrived while the server
// searched; a server that never continues IDLE runs into the read time-out.
TEST(ImapWatch, RecountsAfterArrivalAndGivesUpOnIdleWithoutContinuation) {
    const Script script =
        JoinScripts({kGreeting,
                     kLogin,
                     {ClientSends("A2 EXAMINE INBOX"), ServerTagged("OK done"),
                      ClientSends("A3 SEARCH UNSEEN"), ServerSays("* SEARCH 1 2"), ServerSays("* 3 EXISTS"),
                      ServerTagged("OK done"), ClientSends("A4 SEARCH UNSEEN"), ServerSays("* SEARCH 1 2 3"),
                      ServerTagged("OK done"), ClientSends("A5 IDLE"), ServerStaysSilent(2s)}});
    ScriptedServer server(script);
    ImapClient client;
    AimClient(client, server.Port(), 500);
    client.ConnectAndLogIn();
    client.ExamineInbox();
    EXPECT_EQ(client.CountUnseenInSelected(), 3);
    EXPECT_THROW(client.StartIdle(), EIdReadTimeout);
    client.CloseTcpConnection(false);
    EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script));
}

// A response that begins during IDLE must end within the session limit, and a line within the
// longest: a server that drips a literal, or floods a line without end, cannot hold the watch.
TEST(ImapWatch, GivesUpOnAResponseDrippedOrFloodedDuringIdle) {
    const struct {
        const char* name;
        ScriptStep response;
        bool timesOut; // else the line is over-long
    } cases[] = {
        {"DrippedLiteral",
         ServerDripFeeds("* 1 FETCH (BODY[] {100}\r\n" + std::string(100, 'x') + ")\r\n", 20ms), true},
        {"EndlessLine", ServerSendsBytes(std::string(ImapClient::MaxLineLength + 4096, 'x')), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(JoinScripts(
            {kGreeting,
             kLogin,
             {ClientSends("A2 EXAMINE INBOX"), ServerTagged("OK done"), ClientSends("A3 SEARCH UNSEEN"),
              ServerSays("* SEARCH 1"), ServerTagged("OK done"), ClientSends("A4 IDLE"),
              ServerSays("+ idling"), c.response, ServerStaysSilent(1s)}}));
        ImapClient client;
        AimClient(client, server.Port());
        client.SetSessionTimeLimit(300ms);
        client.ConnectAndLogIn();
        client.ExamineInbox();
        client.CountUnseenInSelected();
        client.StartIdle();
        const auto pollAWhile = [&client] {
            for (int i = 0; i < 40; ++i)
                client.PollIdle(100);
        };
        if (c.timesOut)
            EXPECT_THROW(pollAWhile(), EIdReadTimeout);
        else
            EXPECT_THROW(pollAWhile(), EIdReadLnMaxLineLengthExceeded);
        EXPECT_FALSE(client.TcpConnectionIsOpen());
    }
}

} // namespace

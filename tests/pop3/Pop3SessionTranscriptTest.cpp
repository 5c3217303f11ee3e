// The POP3 session against a scripted server: every way a server can fail or misbehave, with
// the exact bytes the client sent. Each script is the conversation a correct client has; where
// the client must not say "QUIT", the script has none, and a "QUIT" sent anyway would show up
// in the recorded bytes.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "base/Base64.h"
#include "mail/BearerSasl.h"
#include "pop3/Pop3Client.h"
#include "pop3/Pop3Errors.h"
#include "tests/support/LoopbackSockets.h"
#include "tests/support/Pop3CheckRun.h"
#include "tests/support/ScriptedServer.h"

namespace {

using namespace std::chrono_literals;

const auto Join = JoinScripts;

const Script kGreeting = {ServerSays("+OK ready")};
const Script kCapaRefused = {ClientSends("CAPA"), ServerSays("-ERR unknown command")};
const Script kSignIn = {ClientSends("USER u"), ServerSays("+OK"), ClientSends("PASS p"), ServerSays("+OK")};
const Script kQuit = {ClientSends("QUIT"), ServerSays("+OK bye")};

Script Stat(const std::string& reply) {
    return {ClientSends("STAT"), ServerSays(reply)};
}

// A short read time-out for the tests in which a wait has to run out.
constexpr int32_t kShortReadTimeout = 500;

// The check against a server running `script`: its outcome, and the bytes the client sent.
struct ScriptedRun {
    Pop3CheckOutcome outcome;
    std::string sent;
};

ScriptedRun RunScripted(const Script& script, int32_t readTimeout = 5000) {
    ScriptedServer server(script);
    TIdPOP3 client;
    AimClient(client, server.Port(), readTimeout);
    ScriptedRun run{RunCheck(client), {}};
    run.sent = server.ReceivedBytes();
    return run;
}

// ---- Checks that succeed ----

TEST(Pop3Session, WholeCheckSendsExactlyTheFiveCommandsAndCloses) {
    const Script script =
        Join({{ServerSays("+OK POP3 ready <1896.697170952@host>"), ClientSends("CAPA"),
               ServerSays("+OK list"), ServerSays("USER"), ServerSays("..dotted"), ServerSays(".")},
              kSignIn,
              Stat("+OK 3 1200"),
              kQuit});
    ScriptedServer server(script);
    TIdPOP3 client;
    AimClient(client, server.Port());
    const Pop3CheckOutcome outcome = RunCheck(client);

    EXPECT_FALSE(outcome.Failed()) << outcome.Describe();
    EXPECT_EQ(outcome.count, 3);
    EXPECT_FALSE(outcome.openAtEnd);
    EXPECT_EQ(server.ReceivedBytes(), "CAPA\r\nUSER u\r\nPASS p\r\nSTAT\r\nQUIT\r\n");
    EXPECT_EQ(client.ApopTimestamp(), u"<1896.697170952@host>");
    EXPECT_TRUE(client.ServerOffersApop());
    EXPECT_EQ(client.ServerCapabilityList(), (std::vector<std::u16string>{u"USER", u".dotted"}));
    EXPECT_TRUE(client.ServerAnsweredCapa());
}

TEST(Pop3Session, CapaRefusedStillSignsIn) {
    const Script script = Join({kGreeting, kCapaRefused, kSignIn, Stat("+OK 2 10"), kQuit});
    ScriptedServer server(script);
    TIdPOP3 client;
    AimClient(client, server.Port());
    const Pop3CheckOutcome outcome = RunCheck(client);
    EXPECT_EQ(outcome.count, 2) << outcome.Describe();
    EXPECT_TRUE(client.ServerCapabilityList().empty());
    EXPECT_FALSE(client.ServerAnsweredCapa());
    EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script));
}

TEST(Pop3Session, GreetingTimeStampIsTheFirstBracketedText) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"+OK ready", u""},     {"+OK ready <a.b> more <c.d>", u"<a.b>"},
        {"+OK <unclosed", u""}, {"+OK closed> before <open", u""},
        {"+OK <>", u"<>"},
    };
    for (const auto& [greeting, timestamp] : cases) {
        const Script script = Join({{ServerSays(greeting)}, kCapaRefused, kSignIn});
        ScriptedServer server(script);
        TIdPOP3 client;
        AimClient(client, server.Port());
        client.ConnectAndLogIn();
        EXPECT_EQ(client.ApopTimestamp(), timestamp) << greeting;
        EXPECT_EQ(client.ServerOffersApop(), !timestamp.empty()) << greeting;
        client.CloseSession(false);
        EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script)) << greeting;
    }
}

TEST(Pop3Session, ServersThatWriteRepliesOddlyAreUnderstood) {
    const std::pair<const char*, Script> cases[] = {
        {"blank lines before the greeting", {ServerSendsBytes("\r\n   \r\n\n\t\r\n+OK ready\r\n")}},
        {"a greeting of two lines", {ServerSays("+OK-first"), ServerSays("+OK second")}},
        {"bare LF line ends and trailing blanks", {ServerSendsBytes("+ok ready  \n")}},
        {"a greeting dripped byte by byte", {ServerDripFeeds("+OK slow\r\n", 30ms)}},
    };
    for (const auto& [what, greeting] : cases) {
        const Script script = Join({greeting, kCapaRefused, kSignIn, Stat("+OK 1 5"), kQuit});
        const ScriptedRun run = RunScripted(script);
        EXPECT_EQ(run.outcome.count, 1) << what << ": " << run.outcome.Describe();
        EXPECT_EQ(run.sent, ClientBytes(script)) << what;
    }
}

TEST(Pop3Session, CapabilityListOfTheLimitIsAccepted) {
    Script list = {ClientSends("CAPA"), ServerSays("+OK")};
    for (int i = 0; i < TIdPOP3::DefaultMaxCapturedLines; ++i)
        list.push_back(ServerSays("X-CAP-" + std::to_string(i)));
    list.push_back(ServerSays("."));
    ScriptedServer server(Join({kGreeting, list, kSignIn, kQuit}));
    TIdPOP3 client;
    AimClient(client, server.Port());
    client.ConnectAndLogIn();
    EXPECT_EQ(client.ServerCapabilityList().size(), 1000u);
    EXPECT_EQ(client.ServerCapabilityList().back(), u"X-CAP-999");
    client.CloseSession(true);
}

// How a check is expected to end, for the tables below.
using OutcomeTest = bool (*)(const Pop3CheckOutcome&);
template <class E> bool Is(const Pop3CheckOutcome& outcome) {
    return outcome.FailedWith<E>();
}
bool Succeeded(const Pop3CheckOutcome& outcome) {
    return !outcome.Failed();
}

// ---- "STAT" ----

struct StatCase {
    const char* reply;
    std::optional<int32_t> count; // nothing: the check fails
    OutcomeTest endedAsExpected;
    std::u16string message;
};

TEST(Pop3Session, StatReplies) {
    const StatCase cases[] = {
        {"+OK 3 1200", 3, &Succeeded, u""},
        {"+ok 3 120", 3, &Succeeded, u""},
        {"+OK", 0, &Succeeded, u""},
        {"+OK 0 0", 0, &Succeeded, u""},
        {"+OK -2 0", -2, &Succeeded, u""},
        {"+OK $1F 0", 31, &Succeeded, u""},
        {"+OK 2147483647 0", 2147483647, &Succeeded, u""},
        {"+OK 3", std::nullopt, &Is<EConvertError>, u"'''' is not a valid integer value"},
        {"+OK  3 1200", std::nullopt, &Is<EConvertError>, u"'''' is not a valid integer value"},
        {"+OK 2147483648 0", std::nullopt, &Is<EConvertError>,
         u"''2147483648'' is not a valid integer value"},
        {"+OK three 0", std::nullopt, &Is<EConvertError>, u"''three'' is not a valid integer value"},
        {"-ERR [IN-USE] mailbox locked", std::nullopt, &Is<EIdReplyPOP3Error>, u"mailbox locked\r\n"},
    };
    for (const StatCase& c : cases) {
        // Whatever the reply, the connection stays open and the check ends it with "QUIT".
        const Script script = Join({kGreeting, kCapaRefused, kSignIn, Stat(c.reply), kQuit});
        const ScriptedRun run = RunScripted(script);
        EXPECT_EQ(run.outcome.count, c.count) << c.reply << ": " << run.outcome.Describe();
        EXPECT_TRUE(c.endedAsExpected(run.outcome)) << c.reply << ": " << run.outcome.Describe();
        EXPECT_EQ(run.outcome.FailureMessage(), c.message) << c.reply;
        EXPECT_EQ(run.outcome.openAfterFailure, run.outcome.Failed()) << c.reply;
        EXPECT_FALSE(run.outcome.openAtEnd) << c.reply;
        EXPECT_EQ(run.sent, ClientBytes(script)) << c.reply;
    }
}

// ---- Failures before the count: the connection is closed without "QUIT" ----

struct FailureCase {
    const char* what;
    Script script; // everything the client must send, and nothing more
    OutcomeTest failedAsExpected;
    std::u16string message;
};

const std::u16string kReadTimedOut = u"Read timed out.";

TEST(Pop3Session, FailuresBeforeTheCountCloseWithoutQuit) {
    const FailureCase cases[] = {
        {"greeting refused", {ServerSays("-ERR go away")}, &Is<EIdReplyPOP3Error>, u"go away\r\n"},
        {"greeting without a known code", {ServerSays("* OK hello")}, &Is<EIdReplyPOP3Error>, u""},
        {"greeting +OKAY", {ServerSays("+OKAY ready")}, &Is<EIdReplyPOP3Error>, u""},
        {"greeting cut by a close",
         {ServerSendsBytes("+OK hal"), CloseConnection()},
         &Is<EIdConnClosedGracefully>,
         u"Connection Closed Gracefully."},
        {"closed before the greeting",
         {CloseConnection()},
         &Is<EIdConnClosedGracefully>,
         u"Connection Closed Gracefully."},
        {"greeting of 20000 bytes",
         {ServerSays("+OK " + std::string(20000, 'x'))},
         &Is<EIdReadLnMaxLineLengthExceeded>,
         u"Max line length exceeded."},
        {"CAPA never answered", Join({kGreeting, {ClientSends("CAPA"), ServerStaysSilent(3s)}}),
         &Is<EIdReadTimeout>, kReadTimedOut},
        {"CAPA list cut by a close",
         Join({kGreeting, {ClientSends("CAPA"), ServerSays("+OK"), ServerSays("USER"), CloseConnection()}}),
         &Is<EIdConnClosedGracefully>, u"Connection Closed Gracefully."},
        {"USER refused", Join({kGreeting, kCapaRefused, {ClientSends("USER u"), ServerSays("-ERR who?")}}),
         &Is<EIdReplyPOP3Error>, u"who?\r\n"},
        {"USER never answered",
         Join({kGreeting, kCapaRefused, {ClientSends("USER u"), ServerStaysSilent(3s)}}), &Is<EIdReadTimeout>,
         kReadTimedOut},
        {"PASS refused",
         Join({kGreeting,
               kCapaRefused,
               {ClientSends("USER u"), ServerSays("+OK"), ClientSends("PASS p"),
                ServerSays("-ERR [AUTH] Invalid login")}}),
         &Is<EIdReplyPOP3Error>, u"Invalid login\r\n"},
        {"PASS never answered",
         Join({kGreeting,
               kCapaRefused,
               {ClientSends("USER u"), ServerSays("+OK"), ClientSends("PASS p"), ServerStaysSilent(3s)}}),
         &Is<EIdReadTimeout>, kReadTimedOut},
        {"PASS answered with a line of 20000 bytes",
         Join({kGreeting,
               kCapaRefused,
               {ClientSends("USER u"), ServerSays("+OK"), ClientSends("PASS p"),
                ServerSays("-ERR " + std::string(20000, 'y'))}}),
         &Is<EIdReadLnMaxLineLengthExceeded>, u"Max line length exceeded."},
    };
    for (const FailureCase& c : cases) {
        const ScriptedRun run = RunScripted(c.script, kShortReadTimeout);
        EXPECT_TRUE(c.failedAsExpected(run.outcome)) << c.what << ": " << run.outcome.Describe();
        EXPECT_EQ(run.outcome.FailureMessage(), c.message) << c.what;
        EXPECT_FALSE(run.outcome.count.has_value()) << c.what;
        EXPECT_FALSE(run.outcome.openAfterFailure) << c.what;
        EXPECT_EQ(run.sent, ClientBytes(c.script)) << c.what;
    }
}

TEST(Pop3Session, RefusedPasswordRaisesTheReplyWithItsCodes) {
    const Script script = Join({kGreeting,
                                kCapaRefused,
                                {ClientSends("USER u"), ServerSays("+OK"), ClientSends("PASS p"),
                                 ServerSays("-ERR [AUTH] Invalid login")}});
    ScriptedServer server(script);
    TIdPOP3 client;
    AimClient(client, server.Port());
    try {
        client.ConnectAndLogIn();
        FAIL() << "signed in with a refused password";
    } catch (const EIdReplyPOP3Error& error) {
        EXPECT_EQ(error.FailedReplyCode(), u"-ERR");
        EXPECT_EQ(error.Message(), u"Invalid login\r\n");
    }
    EXPECT_FALSE(client.TcpConnectionIsOpen());
    EXPECT_EQ(client.LastReply().Code(), u"-ERR");
    EXPECT_EQ(client.LastReply().EnhancedCode(), u"[AUTH]");
    EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script));
}

TEST(Pop3Session, SilentGreetingTimesOutAfterTheReadTimeOut) {
    const Script script = {ServerStaysSilent(20s)};
    const ScriptedRun run = RunScripted(script, 5000);
    EXPECT_TRUE(run.outcome.FailedWith<EIdReadTimeout>()) << run.outcome.Describe();
    EXPECT_EQ(run.outcome.FailureMessage(), kReadTimedOut);
    EXPECT_GE(run.outcome.duration, 4500ms);
    EXPECT_LT(run.outcome.duration, 15s);
    EXPECT_FALSE(run.outcome.openAfterFailure);
    EXPECT_EQ(run.sent, "");
}

TEST(Pop3Session, RefusedConnectionExchangesNothing) {
    TIdPOP3 client;
    AimClient(client, FreeLoopbackPort());
    const Pop3CheckOutcome outcome = RunCheck(client);
    ASSERT_TRUE(outcome.FailedWith<EIdSocketError>()) << outcome.Describe();
    try {
        std::rethrow_exception(outcome.failure);
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.ErrorCode(), 10061);
    }
    EXPECT_FALSE(outcome.openAfterFailure);
    EXPECT_EQ(client.IOHandler(), nullptr);
}

// The session's limit belongs to the session: a connect that fails must not leave it to cut
// the waits of a connection opened later without ConnectAndLogIn.
TEST(Pop3Session, FailedConnectLeavesNoSessionLimitBehind) {
    TIdPOP3 client;
    AimClient(client, FreeLoopbackPort());
    client.SetSessionTimeLimit(100ms);
    EXPECT_THROW(client.ConnectAndLogIn(), EIdSocketError);
    std::this_thread::sleep_for(200ms);

    ScriptedServer server({ServerStaysSilent(300ms), ServerSays("+OK late")});
    client.SetPort(server.Port());
    client.OpenTcpConnection();
    EXPECT_EQ(client.AwaitReply(u"+OK"), u"+OK");
    client.CloseTcpConnection(false);
}

// ---- "QUIT" ----

TEST(Pop3Session, QuitRefusedOrUnansweredStillCloses) {
    const std::tuple<const char*, ScriptStep, OutcomeTest> cases[] = {
        {"refused", ServerSays("-ERR not now"), &Is<EIdReplyPOP3Error>},
        {"unanswered", ServerStaysSilent(3s), &Is<EIdReadTimeout>},
        {"cut by a close", CloseConnection(), &Is<EIdConnClosedGracefully>},
    };
    for (const auto& [what, answer, failedAsExpected] : cases) {
        const Script script =
            Join({kGreeting, kCapaRefused, kSignIn, Stat("+OK 4 100"), {ClientSends("QUIT"), answer}});
        const ScriptedRun run = RunScripted(script, kShortReadTimeout);
        // The count arrived: the failure to say goodbye does not make it stale.
        EXPECT_EQ(run.outcome.count, 4) << what;
        EXPECT_TRUE(failedAsExpected(run.outcome)) << what << ": " << run.outcome.Describe();
        EXPECT_FALSE(run.outcome.openAfterFailure) << what;
        EXPECT_EQ(run.sent, ClientBytes(script)) << what;
    }
}

// ---- Servers that never stop talking: every check ends within the session's limit ----

TEST(Pop3Session, EndlessCapabilityListIsCutAtTheLineLimit) {
    const Script script =
        Join({kGreeting, {ClientSends("CAPA"), ServerSays("+OK"), ServerSendsForever("X-MORE")}});
    const ScriptedRun run = RunScripted(script);
    EXPECT_TRUE(run.outcome.FailedWith<EIdMaxCaptureLineExceeded>()) << run.outcome.Describe();
    EXPECT_EQ(run.outcome.FailureMessage(), u"Maximum number of line allowed exceeded");
    EXPECT_FALSE(run.outcome.openAfterFailure);
    EXPECT_EQ(run.sent, ClientBytes(script));
}

TEST(Pop3Session, EndlessReplyOfContinuedLinesIsCutAtTheLineLimit) {
    const Script script = Join({kGreeting, {ClientSends("CAPA"), ServerSendsForever("+OK-more")}});
    const ScriptedRun run = RunScripted(script);
    EXPECT_TRUE(run.outcome.FailedWith<EIdMaxCaptureLineExceeded>()) << run.outcome.Describe();
    EXPECT_EQ(run.sent, ClientBytes(script));
}

// Servers that keep every single wait short; the session's limit, shortened to a second here,
// ends the check, as the read time-out alone never would.
TEST(Pop3Session, ServersThatNeverFinishAreCutAtTheSessionLimit) {
    const std::pair<const char*, Script> cases[] = {
        {"greeting dripped without end", {ServerDripFeeds("+OK " + std::string(400, 'z') + "\r\n", 50ms)}},
        {"blank lines without end", {ServerSendsForever("")}},
        {"capability list dripped without end",
         Join({kGreeting,
               {ClientSends("CAPA"), ServerSays("+OK"), ServerDripFeeds(std::string(400, 'c'), 50ms)}})},
        {"STAT reply dripped without end",
         Join({kGreeting,
               kCapaRefused,
               kSignIn,
               {ClientSends("STAT"), ServerDripFeeds(std::string(400, 's'), 50ms)},
               {ClientSends("QUIT")}})},
    };
    for (const auto& [what, script] : cases) {
        ScriptedServer server(script);
        TIdPOP3 client;
        AimClient(client, server.Port(), 5000);
        client.SetSessionTimeLimit(1s);
        const Pop3CheckOutcome outcome = RunCheck(client);
        EXPECT_TRUE(outcome.FailedWith<EIdReadTimeout>()) << what << ": " << outcome.Describe();
        EXPECT_GE(outcome.duration, 900ms) << what;
        EXPECT_LT(outcome.duration, 4s) << what;
        EXPECT_FALSE(outcome.openAtEnd) << what;
        // "QUIT" only where the connection was still open: after "STAT", as the check closes it.
        EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script)) << what;
    }
}

TEST(Pop3Session, EachCheckStartsWithAFreshLimitAndFreshSessionFields) {
    const Script first = Join({{ServerSays("+OK ready <1.2@h>"), ClientSends("CAPA"), ServerSays("+OK"),
                                ServerSays("USER"), ServerSays(".")},
                               kSignIn,
                               Stat("+OK 1 10"),
                               kQuit});
    const Script second = Join({kGreeting, kCapaRefused, kSignIn, Stat("+OK 2 20"), kQuit});
    ScriptedServer server(std::vector<Script>{first, second});
    TIdPOP3 client;
    AimClient(client, server.Port());
    client.SetSessionTimeLimit(1s);
    EXPECT_EQ(RunCheck(client).count, 1);
    EXPECT_TRUE(client.ServerOffersApop());
    std::this_thread::sleep_for(1200ms);
    const Pop3CheckOutcome later = RunCheck(client);
    EXPECT_EQ(later.count, 2) << later.Describe();
    EXPECT_EQ(client.ApopTimestamp(), u"");
    EXPECT_FALSE(client.ServerAnsweredCapa());
    EXPECT_EQ(server.ReceivedBytes(1), ClientBytes(second));
}

// ---- Line breaks in the credentials ----

TEST(Pop3Session, LineBreakInTheCredentialsIsNeverSent) {
    struct Case {
        std::u16string user, password;
        Script script;
    };
    const Case cases[] = {
        {u"u\r\nDELE 1", u"p", Join({kGreeting, kCapaRefused})},
        {u"u\nDELE 1", u"p", Join({kGreeting, kCapaRefused})},
        {u"u", u"p\rDELE 1", Join({kGreeting, kCapaRefused, {ClientSends("USER u"), ServerSays("+OK")}})},
    };
    for (const Case& c : cases) {
        ScriptedServer server(c.script);
        TIdPOP3 client;
        AimClient(client, server.Port());
        client.SetUsername(c.user);
        client.SetPassword(c.password);
        const Pop3CheckOutcome outcome = RunCheck(client);
        EXPECT_TRUE(outcome.FailedWith<EIdCommandHasLineBreak>()) << outcome.Describe();
        EXPECT_FALSE(outcome.openAfterFailure);
        EXPECT_EQ(server.ReceivedBytes(), ClientBytes(c.script));
    }
}

// ---- Credentials beyond ASCII, and how long the sign-in's answer may take ----

TEST(Pop3Session, CredentialsGoOutAsUtf8AndAllAsciiOnesAsEver) {
    const Script capaUtf8 = {ClientSends("CAPA"), ServerSays("+OK"), ServerSays("UTF8 USER"),
                             ServerSays(".")};
    const std::u16string user = u"\u00e5sa", password = u"p\u00e4\"ss \\x \u00e5";
    const std::string userBytes = "\xc3\xa5sa", passwordBytes = "p\xc3\xa4\"ss \\x \xc3\xa5";
    const Script signIn = {ClientSends("USER " + userBytes), ServerSays("+OK"),
                           ClientSends("PASS " + passwordBytes), ServerSays("+OK")};
    const struct {
        const char* what;
        TIdPOP3AuthenticationType type;
        std::u16string user, password;
        Script script;
    } cases[] = {
        {"all ASCII: no UTF8 though offered", patUserPass, u"u", u"p", Join({kGreeting, capaUtf8, kSignIn})},
        {"UTF8 not offered", patUserPass, user, password, Join({kGreeting, kCapaRefused, signIn})},
        {"UTF8 offered and taken", patUserPass, user, password,
         Join({kGreeting, capaUtf8, {ClientSends("UTF8"), ServerSays("+OK")}, signIn})},
        {"UTF8 refused: the sign-in goes on", patUserPass, user, password,
         Join({kGreeting, capaUtf8, {ClientSends("UTF8"), ServerSays("-ERR no")}, signIn})},
        {"APOP: user name and digest of the UTF-8 password",
         patAPOP,
         user,
         password,
         {ServerSays("+OK <1.2@h>"), ClientSends("CAPA"), ServerSays("-ERR"),
          ClientSends("APOP " + userBytes + " 939ebf1bd72a5f50600e45f07122abc1"), ServerSays("+OK")}},
    };
    for (const auto& c : cases) {
        ScriptedServer server(c.script);
        TIdPOP3 client;
        AimClient(client, server.Port());
        client.SetAuthType(c.type);
        client.SetUsername(c.user);
        client.SetPassword(c.password);
        EXPECT_NO_THROW(client.ConnectAndLogIn()) << c.what;
        client.CloseSession(false);
        EXPECT_EQ(server.ReceivedBytes(), ClientBytes(c.script)) << c.what;
    }
}

// Servers hold back the refusal of a wrong password: its answer may take three ordinary waits,
// any other answer one.
TEST(Pop3Session, OnlyTheSignInAnswerMayTakeLongerThanTheReadTimeOut) {
    const Script late = {ServerStaysSilent(1s)};
    const Script bearer = {ClientSends("CAPA"), ServerSays("+OK"), ServerSays("SASL XOAUTH2"),
                           ServerSays(".")};
    const struct {
        const char* what;
        TIdPOP3AuthenticationType type;
        Script script;
        std::u16string failure;
    } cases[] = {
        {"PASS refused late", patUserPass,
         Join({kGreeting,
               kCapaRefused,
               {ClientSends("USER u"), ServerSays("+OK"), ClientSends("PASS p")},
               late,
               {ServerSays("-ERR [AUTH] Authentication failed.")}}),
         u"Authentication failed.\r\n"},
        {"AUTH's continuation late, then its answer", patSASL,
         Join({kGreeting,
               bearer,
               {ClientSends("AUTH XOAUTH2")},
               late,
               {ServerSays("+ "), ClientSends("dXNlcj11AWF1dGg9QmVhcmVyIFQBAQ==")},
               late,
               {ServerSays("-ERR [SYS/TEMP] busy")}}),
         u"busy\r\n"},
        {"USER answered late", patUserPass, Join({kGreeting, kCapaRefused, {ClientSends("USER u")}, late}),
         kReadTimedOut},
        {"CAPA answered late", patUserPass, Join({kGreeting, {ClientSends("CAPA")}, late}), kReadTimedOut},
    };
    for (const auto& c : cases) {
        ScriptedServer server(c.script);
        TIdPOP3 client;
        AimClient(client, server.Port(), kShortReadTimeout);
        client.SetAuthType(c.type);
        client.SetBearerToken("T");
        EXPECT_EQ(RunCheck(client).FailureMessage(), c.failure) << c.what;
        EXPECT_EQ(server.ReceivedBytes(), ClientBytes(c.script)) << c.what;
    }
}

// As the program waits: 5 s for each answer, 15 s for the sign-in's.
TEST(Pop3Session, PasswordRefusedAfterSevenSecondsShowsTheRefusal) {
    const Script script = Join({kGreeting,
                                kCapaRefused,
                                {ClientSends("USER u"), ServerSays("+OK"), ClientSends("PASS p"),
                                 ServerStaysSilent(7s), ServerSays("-ERR [AUTH] Invalid login")}});
    const ScriptedRun run = RunScripted(script, 5000);
    EXPECT_TRUE(run.outcome.FailedWith<EIdReplyPOP3Error>()) << run.outcome.Describe();
    EXPECT_EQ(run.outcome.FailureMessage(), u"Invalid login\r\n");
    EXPECT_EQ(run.sent, ClientBytes(script));
}

// ---- The least time between sign-ins the server announces ----

TEST(Pop3Session, LoginDelayAsAnnouncedBeforeOrAfterTheSignIn) {
    const auto capa = [](std::vector<std::string> lines) {
        Script script = {ClientSends("CAPA"), ServerSays("+OK")};
        for (std::string& line : lines)
            script.push_back(ServerSays(std::move(line)));
        script.push_back(ServerSays("."));
        return script;
    };
    const struct {
        const char* what;
        Script script;
        std::optional<int64_t> seconds;
    } cases[] = {
        {"before", Join({kGreeting, capa({"USER", "login-delay 60"}), kSignIn}), 60},
        {"per user: asked again once signed in",
         Join({kGreeting, capa({"LOGIN-DELAY 900 USER"}), kSignIn, capa({"LOGIN-DELAY 300"})}), 300},
        {"per user, not said again", Join({kGreeting, capa({"LOGIN-DELAY 900 USER"}), kSignIn, kCapaRefused}),
         900},
        {"beyond an hour", Join({kGreeting, capa({"LOGIN-DELAY 86400"}), kSignIn}), 3600},
        {"none", Join({kGreeting, capa({"USER"}), kSignIn}), std::nullopt},
        {"no number", Join({kGreeting, capa({"LOGIN-DELAY", "LOGIN-DELAY soon", "LOGIN-DELAY -5"}), kSignIn}),
         std::nullopt},
    };
    for (const auto& c : cases) {
        ScriptedServer server(c.script);
        TIdPOP3 client;
        AimClient(client, server.Port());
        client.ConnectAndLogIn();
        const std::optional<std::chrono::seconds> delay = client.LoginDelay();
        EXPECT_EQ(delay ? std::optional<int64_t>(delay->count()) : std::nullopt, c.seconds) << c.what;
        client.CloseSession(false);
        EXPECT_EQ(server.ReceivedBytes(), ClientBytes(c.script)) << c.what;
    }
}

// ---- Other ways to sign in ----

TEST(Pop3Session, ApopSendsTheDigestOfTimeStampAndPassword) {
    // The example of RFC 1939.
    const Script script = {ServerSays("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>"),
                           ClientSends("CAPA"),
                           ServerSays("-ERR"),
                           ClientSends("APOP mrose c4c9334bac560ecc979e58001b3e22fb"),
                           ServerSays("+OK maildrop has 1 message (369 octets)"),
                           ClientSends("STAT"),
                           ServerSays("+OK 1 369"),
                           ClientSends("QUIT"),
                           ServerSays("+OK")};
    ScriptedServer server(script);
    TIdPOP3 client;
    AimClient(client, server.Port());
    client.SetAuthType(patAPOP);
    client.SetUsername(u"mrose");
    client.SetPassword(u"tanstaaf");
    EXPECT_EQ(RunCheck(client).count, 1);
    EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script));
}

// The bearer token: the mechanism CAPA allows, the continuation, and a refused token answered
// with an empty line before the refusal is read.
TEST(Pop3Session, BearerTokenSignIns) {
    // base64 of "user=u\x01auth=Bearer T\x01\x01" and "n,a=u,\x01host=127.0.0.1\x01port=<port>\x01...".
    const std::string xoauth2 = "dXNlcj11AWF1dGg9QmVhcmVyIFQBAQ==";
    const Script saslBoth = {ClientSends("CAPA"), ServerSays("+OK"), ServerSays("SASL XOAUTH2 OAUTHBEARER"),
                             ServerSays(".")};
    const Script saslBearerOnly = {ClientSends("CAPA"), ServerSays("+OK"), ServerSays("SASL OAUTHBEARER"),
                                   ServerSays(".")};
    const struct {
        const char* name;
        Script script;
        std::optional<int32_t> count;
        std::u16string failure;
        bool rejected;
    } cases[] = {
        {"xoauth2",
         Join({kGreeting,
               saslBoth,
               {ClientSends("AUTH XOAUTH2"), ServerSays("+ "), ClientSends(xoauth2),
                ServerSays("+OK Logged in.")},
               Stat("+OK 3 408"),
               kQuit}),
         3, u"", false},
        {"failure challenge",
         Join({kGreeting,
               saslBoth,
               {ClientSends("AUTH XOAUTH2"), ServerSays("+ "), ClientSends(xoauth2),
                ServerSays("+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0="), ClientSends(""),
                ServerSays("-ERR [AUTH] Authentication failed.")}}),
         std::nullopt, u"Authentication failed.", true},
        {"refused at once",
         Join({kGreeting,
               saslBoth,
               {ClientSends("AUTH XOAUTH2"), ServerSays("+ "), ClientSends(xoauth2),
                ServerSays("-ERR token expired")}}),
         std::nullopt, u"token expired", true},
        {"server's own failure",
         Join({kGreeting,
               saslBoth,
               {ClientSends("AUTH XOAUTH2"), ServerSays("+ "), ClientSends(xoauth2),
                ServerSays("-ERR [SYS/TEMP] Temporary authentication failure.")}}),
         std::nullopt, u"Temporary authentication failure.\r\n", false},
        {"too soon after the last sign-in: no verdict on the token",
         Join({kGreeting,
               saslBoth,
               {ClientSends("AUTH XOAUTH2"), ServerSays("+ "), ClientSends(xoauth2),
                ServerSays("-ERR [LOGIN-DELAY] wait")}}),
         std::nullopt, u"wait\r\n", false},
        {"mechanism refused",
         Join({kGreeting,
               kCapaRefused,
               {ClientSends("AUTH XOAUTH2"), ServerSays("-ERR Unsupported authentication mechanism.")}}),
         std::nullopt, u"Unsupported authentication mechanism.\r\n", false},
        {"oauthbearer",
         Join({kGreeting,
               saslBearerOnly,
               {ClientSends("AUTH OAUTHBEARER"), ServerSays("+"), ClientSends("*"), ServerSays("+OK")},
               Stat("+OK 1 9"),
               kQuit}),
         1, u"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(c.script);
        TIdPOP3 client;
        AimClient(client, server.Port());
        client.SetAuthType(patSASL);
        client.SetBearerToken("T");
        const Pop3CheckOutcome outcome = RunCheck(client);
        EXPECT_EQ(outcome.count, c.count) << outcome.Describe();
        EXPECT_EQ(outcome.FailureMessage(), c.failure);
        EXPECT_EQ(outcome.FailedWith<EBearerTokenRejected>(), c.rejected);
        std::string expected = ClientBytes(c.script);
        if (std::string(c.name) == "oauthbearer") {
            const std::string response = "n,a=u,\x01host=127.0.0.1\x01port=" + std::to_string(server.Port()) +
                                         "\x01"
                                         "auth=Bearer T\x01\x01";
            expected.replace(expected.find("*\r\n"), 1, Base64Encode(response));
        }
        EXPECT_EQ(server.ReceivedBytes(), expected);
    }
}

TEST(Pop3Session, SignInsThatCannotRunFailBeforeSendingAnything) {
    const std::pair<TIdPOP3AuthenticationType, std::u16string> cases[] = {
        {patAPOP, u"Server do not support APOP (no timestamp)"},
        {patSASL, u"Need SASL mechanisms to login with it!!"},
    };
    for (const auto& [type, message] : cases) {
        const Script script = Join({kGreeting, kCapaRefused});
        ScriptedServer server(script);
        TIdPOP3 client;
        AimClient(client, server.Port());
        client.SetAuthType(type);
        const Pop3CheckOutcome outcome = RunCheck(client);
        EXPECT_EQ(outcome.FailureMessage(), message);
        EXPECT_FALSE(outcome.openAfterFailure);
        EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script));
    }
}

} // namespace

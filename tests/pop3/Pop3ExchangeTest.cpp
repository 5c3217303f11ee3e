// The command and reply exchange of the connection, driven directly on an open connection to a
// scripted server: what goes out, how replies are read and checked, and what LastReply keeps.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pop3/Pop3Client.h"
#include "pop3/Pop3Errors.h"
#include "tests/support/Pop3CheckRun.h"
#include "tests/support/ScriptedServer.h"

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::u16string>;

// A POP3 client with its TCP connection open to the scripted server, nothing exchanged yet.
struct OpenConnection {
    explicit OpenConnection(Script script, int32_t readTimeout = 500) : server(std::move(script)) {
        AimClient(client, server.Port(), readTimeout);
        client.OpenTcpConnection();
    }
    // Closes without a word and returns every byte the client sent.
    std::string Sent() {
        client.CloseTcpConnection(false);
        return server.ReceivedBytes();
    }

    ScriptedServer server;
    TIdPOP3 client;
};

TEST(Pop3Exchange, WithoutAConnectionNothingIsSent) {
    TIdPOP3 client;
    try {
        client.IssueCommand(u"NOOP", u"+OK");
        FAIL() << "issued a command without a connection";
    } catch (const EIdNotConnected& error) {
        EXPECT_EQ(error.Message(), u"Not Connected");
    }
    EXPECT_THROW(client.AwaitReply(u"+OK"), EIdNotConnected);
    EXPECT_THROW(client.RequireConnection(), EIdNotConnected);
}

TEST(Pop3Exchange, CommandGoesOutAsOneLineUnchanged) {
    OpenConnection open({ClientSends(".leading dot  and blanks "), ServerSays("+OK")});
    EXPECT_EQ(open.client.IssueCommand(u".leading dot  and blanks ", u"+OK"), u"+OK");
    EXPECT_EQ(open.Sent(), ".leading dot  and blanks \r\n");
}

TEST(Pop3Exchange, ExpectedCodeIsComparedIgnoringLetterCase) {
    OpenConnection open({ServerSays("+ok fine"), ClientSends("A"), ServerSays("-ERR no"), ClientSends("B"),
                         ServerSays("-ERR no")});
    EXPECT_EQ(open.client.AwaitReply(u"+ok"), u"+OK");
    // An empty expected code accepts any reply.
    EXPECT_EQ(open.client.IssueCommand(u"A"), u"-ERR");
    EXPECT_EQ(open.client.IssueCommand(u"B", u"-err"), u"-ERR");
}

TEST(Pop3Exchange, RepliesAreReadWholeIntoLastReply) {
    OpenConnection open({ServerSendsBytes("\r\n  \r\n+OK-first\r\n\r\n+OK second  \r\n"), ClientSends("NOOP"),
                         ServerSays("+OK")});
    open.client.AwaitReply(u"+OK");
    EXPECT_EQ(open.client.LastReply().Text(), (Lines{u"first", u"second"}));
    // The next reply replaces the whole record.
    open.client.IssueCommand(u"NOOP", u"+OK");
    EXPECT_EQ(open.client.LastReply().Text(), (Lines{u""}));
}

TEST(Pop3Exchange, RejectedReplyIsRaisedAndKept) {
    OpenConnection open({ServerSays("+OK hi"), ClientSends("X"), ServerSays("-ERR [SYS/TEMP] try later"),
                         ClientSends("Y"), ServerSays("* OK hello"), ClientSends("Z"), ServerSays("+OK")});
    open.client.AwaitReply(u"+OK");
    try {
        open.client.IssueCommand(u"X", u"+OK");
        FAIL() << "accepted -ERR";
    } catch (const EIdReplyPOP3Error& error) {
        EXPECT_EQ(error.FailedReplyCode(), u"-ERR");
        EXPECT_EQ(error.Message(), u"try later\r\n");
    }
    EXPECT_EQ(open.client.LastReply().Code(), u"-ERR");
    EXPECT_EQ(open.client.LastReply().EnhancedCode(), u"[SYS/TEMP]");
    // A reply without a known code counts as "-ERR" without text.
    try {
        open.client.IssueCommand(u"Y", u"+OK");
        FAIL() << "accepted a reply without a code";
    } catch (const EIdReplyPOP3Error& error) {
        EXPECT_EQ(error.FailedReplyCode(), u"-ERR");
        EXPECT_EQ(error.Message(), u"");
    }
    // No failure closes the connection here, and the enhanced code outlives a "+OK".
    EXPECT_EQ(open.client.IssueCommand(u"Z", u"+OK"), u"+OK");
    EXPECT_EQ(open.client.LastReply().EnhancedCode(), u"[SYS/TEMP]");
    EXPECT_EQ(open.Sent(), "X\r\nY\r\nZ\r\n");
}

TEST(Pop3Exchange, TimedOutReplyLeavesThePreviousReply) {
    OpenConnection open({ServerSays("+OK previous"), ClientSends("NOOP"),
                         ServerSendsBytes("+OK-part\r\n+OK unfin"), ServerStaysSilent(3s)});
    open.client.AwaitReply(u"+OK");
    EXPECT_THROW(open.client.IssueCommand(u"NOOP", u"+OK"), EIdReadTimeout);
    EXPECT_EQ(open.client.LastReply().Text(), (Lines{u"previous"}));
    EXPECT_TRUE(open.client.TcpConnectionIsOpen());
}

TEST(Pop3Exchange, LineBreaksAreRefusedInEveryEncoding) {
    OpenConnection open({ClientSends("OK ?"), ServerSays("+OK")});
    const std::u16string withBreaks[] = {u"USER a\r\nDELE 1", u"USER a\n", u"\rUSER"};
    for (const std::u16string& line : withBreaks) {
        for (WireEncoding encoding : {weAscii, weUtf8, weRaw8, weNone})
            EXPECT_THROW(open.client.IssueCommand(line, u"+OK", encoding), EIdCommandHasLineBreak);
    }
    // One byte per character keeps only the low byte: U+010A would reach the wire as LF.
    EXPECT_THROW(open.client.IssueCommand(u"USER \u010A", u"+OK", weRaw8), EIdCommandHasLineBreak);
    // In ASCII it becomes "?" and may go.
    EXPECT_EQ(open.client.IssueCommand(u"OK \u010A", u"+OK", weAscii), u"+OK");
    EXPECT_EQ(open.Sent(), "OK ?\r\n");
}

} // namespace

// The headers of new unseen messages, as successive calls on one session against the scripted
// server: the UIDs asked for, the fetch that leaves \Seen alone, and no fetch when nothing is new.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imap/ImapClient.h"
#include "tests/support/ImapCheckRun.h"
#include "tests/support/ScriptedServer.h"

namespace {

// One FETCH response carrying a header as a literal.
ScriptStep FetchedHeader(int number, const std::string& items, const std::string& header) {
    return ServerSendsBytes("* " + std::to_string(number) + " FETCH (" + items + " {" +
                            std::to_string(header.size()) + "}\r\n" + header + ")\r\n");
}

const std::string kFields = "BODY[HEADER.FIELDS (FROM SUBJECT)]";

} // namespace

TEST(ImapNewHeaders, SuccessiveCallsFetchOnlyNewUnseenMessagesNewestFirst) {
    const std::string h12 = "From: a@b\r\nSubject: twelve\r\n\r\n", h9 = "Subject: nine\r\n\r\n";
    const std::string h15 = "From: =?UTF-8?Q?=C3=96rjan?= <o@b>\r\n\r\n";
    const Script script = {
        ServerSays("* OK [CAPABILITY IMAP4rev1] ready"),
        ClientSends("A1 LOGIN \"u\" \"p\""),
        ServerTagged("OK [CAPABILITY IMAP4rev1] in"),
        ClientSends("A2 EXAMINE INBOX"),
        ServerSays("* OK [UIDVALIDITY 1700] ids"),
        ServerTagged("OK [READ-ONLY] done"),
        // first call: three unseen, two wanted, the newest first; items in either order
        ClientSends("A3 UID SEARCH UNSEEN"),
        ServerSays("* SEARCH 12 7 9"),
        ServerTagged("OK done"),
        ClientSends("A4 UID FETCH 12,9 (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])"),
        FetchedHeader(3, "UID 12 " + kFields, h12),
        ServerSays("* 1 FETCH (FLAGS (\\Seen))"),
        ServerSendsBytes("* 2 FETCH (" + kFields + " {" + std::to_string(h9.size()) + "}\r\n" + h9 +
                         " UID 9)\r\n"),
        ServerTagged("OK done"),
        // second call: one more
        ClientSends("A5 UID SEARCH UNSEEN"),
        ServerSays("* SEARCH 7 9 12 15"),
        ServerTagged("OK done"),
        ClientSends("A6 UID FETCH 15 (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])"),
        FetchedHeader(4, "UID 15 " + kFields, h15),
        ServerTagged("OK done"),
        // third call: nothing new, no fetch
        ClientSends("A7 UID SEARCH UNSEEN"),
        ServerSays("* SEARCH 9 15"),
        ServerTagged("OK done"),
        ClientSends("A8 LOGOUT"),
        ServerSays("* BYE bye"),
        ServerTagged("OK done"),
    };
    ScriptedServer server(script);
    ImapClient client;
    AimClient(client, server.Port());
    client.ConnectAndLogIn();
    client.ExamineInbox();
    EXPECT_EQ(client.RetrieveNewHeaders(2),
              (std::vector<NewMessageHeader>{{"1700/12", h12}, {"1700/9", h9}}));
    EXPECT_EQ(client.RetrieveNewHeaders(3), (std::vector<NewMessageHeader>{{"1700/15", h15}}));
    EXPECT_EQ(client.RetrieveNewHeaders(3), std::vector<NewMessageHeader>{});
    client.CloseSession();
    EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script));
}

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
const std::string kFetch = " (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)]<0.16384>)";

} // namespace

TEST(ImapNewHeaders, SuccessiveCallsFetchOnlyNewUnseenMessagesNewestFirst) {
    const std::string h12 = "From: a@b\r\nSubject: twelve\r\n\r\n", h9 = "Subject: nine\r\n\r\n";
    const std::string h15 = "From: =?UTF-8?Q?=C3=96rjan?= <o@b>\r\n\r\n", h20 = "Subject: twenty\r\n\r\n";
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
        ClientSends("A4 UID FETCH 12,9" + kFetch),
        FetchedHeader(3, "UID 12 " + kFields, h12),
        ServerSays("* 1 FETCH (FLAGS (\\Seen))"),
        ServerSendsBytes("* 2 FETCH (" + kFields + " {" + std::to_string(h9.size()) + "}\r\n" + h9 +
                         " UID 9)\r\n"),
        ServerTagged("OK done"),
        // second call: one more
        ClientSends("A5 UID SEARCH UNSEEN"),
        ServerSays("* SEARCH 7 9 12 15"),
        ServerTagged("OK done"),
        ClientSends("A6 UID FETCH 15" + kFetch),
        FetchedHeader(4, "UID 15 " + kFields + "<0>", h15),
        ServerTagged("OK done"),
        // third call: nothing new, no fetch
        ClientSends("A7 UID SEARCH UNSEEN"),
        ServerSays("* SEARCH 9 15"),
        ServerTagged("OK done"),
        // fourth: counted 4 before two more came; of the counted, 20 and 21 are new, and 21's
        // FETCH is garbled
        ClientSends("A8 UID SEARCH UNSEEN"),
        ServerSays("* SEARCH 9 15 20 21 22 23"),
        ServerTagged("OK done"),
        ClientSends("A9 UID FETCH 21,20" + kFetch),
        ServerSays("* 5 FETCH (UID 21 " + kFields + " NIL)"),
        FetchedHeader(4, "UID 20 " + kFields, h20),
        ServerTagged("OK done"),
        // fifth: the two that came late are new now
        ClientSends("A10 UID SEARCH UNSEEN"),
        ServerSays("* SEARCH 9 15 20 21 22 23"),
        ServerTagged("OK done"),
        ClientSends("A11 UID FETCH 23,22" + kFetch),
        ServerTagged("OK done"),
        ClientSends("A12 LOGOUT"),
        ServerSays("* BYE bye"),
        ServerTagged("OK done"),
    };
    ScriptedServer server(script);
    ImapClient client;
    AimClient(client, server.Port());
    client.ConnectAndLogIn();
    client.ExamineInbox();
    using Headers = std::vector<NewMessageHeader>;
    EXPECT_EQ(client.RetrieveNewHeaders(3, 3, 2), (Headers{{"1700/12", h12}, {"1700/9", h9}}));
    EXPECT_EQ(client.RetrieveNewHeaders(4, 1, 3), (Headers{{"1700/15", h15}}));
    EXPECT_EQ(client.RetrieveNewHeaders(2, 1, 3), Headers{});
    EXPECT_EQ(client.RetrieveNewHeaders(4, 2, 3), (Headers{{"1700/20", h20}}));
    EXPECT_EQ(client.RetrieveNewHeaders(6, 2, 3), Headers{});
    client.CloseSession();
    EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script));
}

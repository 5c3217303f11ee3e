// Which messages are new and their headers, as successive checks of one client against a
// scripted server: the server's replies and the client's exact bytes side by side.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pop3/Pop3Client.h"
#include "tests/support/Pop3CheckRun.h"
#include "tests/support/ScriptedServer.h"

namespace {

Script Top(int number, std::vector<std::string> lines) {
    Script script = {ClientSends("TOP " + std::to_string(number) + " 0"), ServerSays("+OK")};
    for (std::string& line : lines)
        script.push_back(ServerSays(std::move(line)));
    script.push_back(ServerSays("."));
    return script;
}

Script Uidl(std::vector<std::string> lines) {
    Script script = {ClientSends("UIDL"), ServerSays("+OK")};
    for (std::string& line : lines)
        script.push_back(ServerSays(std::move(line)));
    script.push_back(ServerSays("."));
    return script;
}

struct NewMailCheck {
    const char* what;
    int count, arrived, most;
    Script exchange; // after "STAT", before "QUIT"
    std::vector<std::string> headers;
    std::vector<std::string> ids = {}; // of the messages, where the row names them
};

} // namespace

TEST(Pop3NewMessages, SuccessiveChecksFetchOnlyTheHeadersOfNewMessages) {
    const std::string longLine(1000, 'x');
    const NewMailCheck checks[] = {
        {"first check: every id is new, newest first, dot-unstuffed",
         3,
         3,
         3,
         [] {
             Script s = Uidl({"1 a", "2 b", "3 c", "not an id line"});
             for (const Script& top :
                  {Top(3, {"Subject: c", "..dotted"}), Top(2, {"Subject: b"}), Top(1, {"Subject: a\xF6"})})
                 s.insert(s.end(), top.begin(), top.end());
             return s;
         }(),
         {"Subject: c\r\n.dotted\r\n", "Subject: b\r\n", "Subject: a\xF6\r\n"},
         {"c", "b", "a"}},
        {"one more: only its id is unknown",
         4,
         1,
         3,
         [] {
             Script s = Uidl({"1 a", "2 b", "3 c", "4 d"});
             const Script top = Top(4, {"Subject: d"});
             s.insert(s.end(), top.begin(), top.end());
             return s;
         }(),
         {"Subject: d\r\n"}},
        {"no UIDL: the highest-numbered",
         6,
         2,
         3,
         [] {
             Script s = {ClientSends("UIDL"), ServerSays("-ERR no")};
             for (const Script& top : {Top(6, {"Subject: f"}), Top(5, {"Subject: e"})})
                 s.insert(s.end(), top.begin(), top.end());
             return s;
         }(),
         {"Subject: f\r\n", "Subject: e\r\n"}},
        {"no TOP: no headers, one try",
         7,
         2,
         3,
         [] {
             Script s = Uidl({"1 a", "2 x", "3 y"});
             s.push_back(ClientSends("TOP 3 0"));
             s.push_back(ServerSays("-ERR unknown command"));
             return s;
         }(),
         {}},
        {"a header past the limit is cut",
         8,
         1,
         3,
         [&] {
             Script s = {ClientSends("UIDL"), ServerSays("-ERR")};
             const Script top = Top(8, std::vector<std::string>(20, longLine));
             s.insert(s.end(), top.begin(), top.end());
             return s;
         }(),
         {[&] {
             std::string cut;
             for (int i = 0; i < 20; ++i)
                 cut += longLine + "\r\n";
             return cut.substr(0, TIdPOP3::HeaderByteLimit);
         }()}},
        {"mail after STAT is neither listed nor taken as seen",
         3,
         1,
         3,
         Uidl({"1 a", "2 x", "3 y", "4 z"}),
         {}},
        {"and is new once counted",
         4,
         1,
         3,
         [] {
             Script s = Uidl({"1 a", "2 x", "3 y", "4 z"});
             const Script top = Top(4, {"Subject: z"});
             s.insert(s.end(), top.begin(), top.end());
             return s;
         }(),
         {"Subject: z\r\n"}},
        {"a header that cannot be read, or whose TOP is refused, is left out; the others stay",
         7,
         3,
         3,
         [&] {
             Script s = Uidl({"1 a", "2 x", "3 y", "4 z", "5 p", "6 q", "7 r"});
             // A line beyond the line length, whose cut-off rest is a lone dot.
             for (const Script& top :
                  {Top(7, {"Subject: r", std::string(16384, 'x') + "."}),
                   Script{ClientSends("TOP 6 0"), ServerSays("-ERR gone")}, Top(5, {"Subject: p"})})
                 s.insert(s.end(), top.begin(), top.end());
             return s;
         }(),
         {"Subject: p\r\n"}},
    };
    TIdPOP3 client; // one client: it remembers the ids of its previous check
    for (const NewMailCheck& check : checks) {
        Script script = {ServerSays("+OK ready"),
                         ClientSends("CAPA"),
                         ServerSays("-ERR"),
                         ClientSends("USER u"),
                         ServerSays("+OK"),
                         ClientSends("PASS p"),
                         ServerSays("+OK"),
                         ClientSends("STAT"),
                         ServerSays("+OK " + std::to_string(check.count) + " 9")};
        script.insert(script.end(), check.exchange.begin(), check.exchange.end());
        script.push_back(ClientSends("QUIT"));
        script.push_back(ServerSays("+OK"));
        ScriptedServer server(script);
        AimClient(client, server.Port());
        client.ConnectAndLogIn();
        ASSERT_EQ(client.QueryMessageCount(), check.count) << check.what;
        std::vector<std::string> headers, ids;
        for (NewMessageHeader& message : client.RetrieveNewHeaders(check.count, check.arrived, check.most)) {
            headers.push_back(std::move(message.header));
            ids.push_back(std::move(message.id));
        }
        EXPECT_EQ(headers, check.headers) << check.what;
        if (!check.ids.empty()) {
            EXPECT_EQ(ids, check.ids) << check.what;
        }
        client.CloseSession(true);
        EXPECT_EQ(server.ReceivedBytes(), ClientBytes(script)) << check.what;
    }
}

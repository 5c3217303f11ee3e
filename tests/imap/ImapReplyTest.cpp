// IMAP's reply reader against bytes from the scripted server, and the tokenizer that callers
// pick counts, capabilities and fetched headers out of.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "imap/ImapErrors.h"
#include "imap/ImapReply.h"
#include "tests/support/ScriptedServer.h"
#include "transport/StackSocketIO.h"
#include "transport/TcpClient.h"

namespace {

using namespace std::chrono_literals;

struct ExpectedResponse {
    ImapResponse::Kind kind;
    std::string tag;
    std::string text;
};

enum class Failure { kNone, kLiteralTooLarge, kTooManyLines, kClosed };

struct ReaderCase {
    const char* name;
    ScriptStep server;
    std::vector<ExpectedResponse> responses; // read in this order, then `failure` (if any)
    Failure failure = Failure::kNone;
};

std::string Repeat(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
}

const std::string kHeader = "Subject: Hi }\r\n\r\n"; // 17 bytes, with a CR LF and a brace inside

const ReaderCase kReaderCases[] = {
    {"TaggedUntaggedAndContinuation",
     ServerSendsBytes("* OK [CAPABILITY IMAP4rev1 IDLE] ready\r\nA1 NO [AUTHENTICATIONFAILED] Failed.\r\n"
                      "+ idling\r\n+\r\n"),
     {{ImapResponse::kUntagged, "", "OK [CAPABILITY IMAP4rev1 IDLE] ready"},
      {ImapResponse::kTagged, "A1", "NO [AUTHENTICATIONFAILED] Failed."},
      {ImapResponse::kContinuation, "", "idling"},
      {ImapResponse::kContinuation, "", ""}}},
    {"BlankLinesSkippedBareLineFeedEndsLine",
     ServerSendsBytes("\r\n  \r\n* 3 EXISTS\nA2 OK done\r\n"),
     {{ImapResponse::kUntagged, "", "3 EXISTS"}, {ImapResponse::kTagged, "A2", "OK done"}}},
    {"LiteralsJoinLinesEvenWhenDripped",
     ServerDripFeeds(
         "* 1 FETCH (UID 7 BODY[HEADER.FIELDS (SUBJECT)] {17}\r\n" + kHeader + " FLAGS ~{0}\r\n)\r\n", 1ms),
     {{ImapResponse::kUntagged, "",
       "1 FETCH (UID 7 BODY[HEADER.FIELDS (SUBJECT)] {17}\r\n" + kHeader + " FLAGS ~{0}\r\n)"}}},
    {"LiteralBeyondLimitIsRefusedUnread",
     ServerSays("* 1 FETCH (BODY[] {1048577}"),
     {},
     Failure::kLiteralTooLarge},
    {"LiteralsTogetherBeyondLimit",
     ServerSendsBytes("* X {1048576}\r\n" + std::string(1048576, 'x') + " {1}\r\n"),
     {},
     Failure::kLiteralTooLarge},
    {"HugeLiteralSize",
     ServerSays("* 1 FETCH (BODY[] {99999999999999999999999999}"),
     {},
     Failure::kLiteralTooLarge},
    {"EndlessChainOfEmptyLiterals",
     ServerSendsBytes(Repeat("* X {0}\r\n", 1001)),
     {},
     Failure::kTooManyLines},
    {"ClosedInsideLiteral", ServerSendsBytes("* 1 FETCH (BODY[] {10}\r\nshort"), {}, Failure::kClosed},
};

class ImapReplyReading : public testing::TestWithParam<ReaderCase> {};

TEST_P(ImapReplyReading, ReadsWholeResponses) {
    const ReaderCase& c = GetParam();
    ScriptedServer server({c.server, CloseConnection()});
    TIdTCPClientCustom connection;
    connection.SetHost(u"127.0.0.1");
    connection.SetPort(server.Port());
    connection.SetConnectTimeout(5000);
    connection.SetReadTimeout(5000);
    connection.OpenTcpConnection();
    connection.IOHandler()->SetMaxLineLength(1 << 20);
    const ImapReplyReader reader;

    for (const ExpectedResponse& expected : c.responses) {
        const ImapResponse response = reader.Read(*connection.IOHandler());
        EXPECT_EQ(response.kind, expected.kind);
        EXPECT_EQ(response.tag, expected.tag);
        EXPECT_EQ(response.text, expected.text);
    }
    switch (c.failure) {
    case Failure::kNone:
        break;
    case Failure::kLiteralTooLarge:
        EXPECT_THROW(reader.Read(*connection.IOHandler()), ImapLiteralTooLarge);
        break;
    case Failure::kTooManyLines:
        EXPECT_THROW(reader.Read(*connection.IOHandler()), EIdMaxCaptureLineExceeded);
        break;
    case Failure::kClosed:
        EXPECT_THROW(reader.Read(*connection.IOHandler()), EIdException);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ImapReplyReading, testing::ValuesIn(kReaderCases),
                         [](const testing::TestParamInfo<ReaderCase>& info) { return info.param.name; });

// Whether a whole response waits in the queue, so that the watch reads it without waiting: no
// proper prefix of a response is whole, the response is, and what Read would refuse at once
// (a literal or line beyond the limits, too many lines) counts as whole too.
TEST(ImapReplyQueue, WholeOnlyOnceTheLastByteHasComeOrReadWouldRefuseAtOnce) {
    const std::string wholes[] = {
        "* 3 EXISTS\r\n",
        "\r\n \r\n* 3 EXISTS\n",
        "* 1 FETCH (UID 7 BODY[HEADER.FIELDS (SUBJECT)] {17}\r\n" + kHeader + " FLAGS ~{0}\r\n)\r\n",
    };
    TIdIOHandlerStack io;
    io.SetMaxLineLength(100);
    const ImapReplyReader reader;
    const auto queued = [&](const std::string& bytes) {
        io.InputQueue().Clear();
        io.InputQueue().Append(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        return reader.ResponseQueued(io);
    };
    for (const std::string& whole : wholes) {
        SCOPED_TRACE(whole);
        for (size_t size = 0; size < whole.size(); ++size)
            EXPECT_FALSE(queued(whole.substr(0, size))) << size;
        EXPECT_TRUE(queued(whole));
    }
    EXPECT_TRUE(queued("* 1 FETCH (BODY[] {1048577}\r\n"));
    EXPECT_TRUE(queued(std::string(101, 'x')));
    EXPECT_TRUE(queued(Repeat("* X {0}\r\n", 1001)));
}

TEST(ImapResponseParts, KeywordCodeAndText) {
    const struct {
        std::string text, keyword, code;
        std::u16string human;
    } cases[] = {
        {"OK [CAPABILITY IMAP4rev1 IDLE] Logged in", "OK", "CAPABILITY IMAP4rev1 IDLE", u"Logged in"},
        {"no [AUTHENTICATIONFAILED] Authentication failed.", "NO", "AUTHENTICATIONFAILED",
         u"Authentication failed."},
        {"BYE Autologout; idle for too long", "BYE", "", u"Autologout; idle for too long"},
        {"12 fetch (FLAGS (\\Seen))", "FETCH", "", u"12 fetch (FLAGS (\\Seen))"},
        {"NO [ALERT Speicher fast voll, sch\xc3\xb6n", "NO", "", u"[ALERT Speicher fast voll, sch\u00f6n"},
        {"OK", "OK", "", u""},
    };
    for (const auto& c : cases) {
        ImapResponse response;
        response.text = c.text;
        EXPECT_EQ(response.Keyword(), c.keyword) << c.text;
        EXPECT_EQ(response.ResponseCode(), c.code) << c.text;
        if (c.keyword != "FETCH") {
            EXPECT_EQ(response.HumanText(), c.human) << c.text;
        }
    }
}

TEST(ImapTokenizer, SplitsAtomsStringsLiteralsAndLists) {
    using T = ImapToken;
    const struct {
        std::string text;
        std::vector<ImapToken> tokens;
    } cases[] = {
        {"STATUS \"IN\\\"BO\\\\X\" (UNSEEN 3)",
         {{T::kAtom, "STATUS"},
          {T::kString, "IN\"BO\\X"},
          {T::kOpen, ""},
          {T::kAtom, "UNSEEN"},
          {T::kAtom, "3"},
          {T::kClose, ""}}},
        {"1 FETCH (UID 7 BODY[HEADER.FIELDS (FROM SUBJECT)] {5}\r\nab\r\nc)",
         {{T::kAtom, "1"},
          {T::kAtom, "FETCH"},
          {T::kOpen, ""},
          {T::kAtom, "UID"},
          {T::kAtom, "7"},
          {T::kAtom, "BODY[HEADER.FIELDS (FROM SUBJECT)]"},
          {T::kString, "ab\r\nc"},
          {T::kClose, ""}}},
        {"ESEARCH (TAG \"A5\") COUNT 3",
         {{T::kAtom, "ESEARCH"},
          {T::kOpen, ""},
          {T::kAtom, "TAG"},
          {T::kString, "A5"},
          {T::kClose, ""},
          {T::kAtom, "COUNT"},
          {T::kAtom, "3"}}},
        {"8 FETCH FLAGS ()",
         {{T::kAtom, "8"}, {T::kAtom, "FETCH"}, {T::kAtom, "FLAGS"}, {T::kOpen, ""}, {T::kClose, ""}}},
        // Cut short: what is there is taken, nothing is read beyond the end.
        {"X {9}\r\nab", {{T::kAtom, "X"}, {T::kString, "ab"}}},
        {"X \"open", {{T::kAtom, "X"}, {T::kString, "open"}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TokenizeImap(c.text), c.tokens) << c.text;
}

} // namespace

#include "pop3/Pop3Reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pop3/Pop3Errors.h"

namespace {

using Lines = std::vector<std::u16string>;

std::string Show(const Lines& lines) {
    std::string shown;
    for (const std::u16string& line : lines)
        shown += "[" + TextToUtf8(line) + "]";
    return shown;
}

// Raw lines of one reply in; the record's fields out.
struct ParseCase {
    Lines raw;
    std::u16string code;
    Lines text;
    std::u16string enhancedCode;
};

const ParseCase kParseCases[] = {
    {{u"+OK POP3 ready <1896.697170952>"}, u"+OK", {u"POP3 ready <1896.697170952>"}, u""},
    {{u"+ok 3 120"}, u"+OK", {u"3 120"}, u""},
    {{u"+OK"}, u"+OK", {u""}, u""},
    {{u"+OK  3 1200"}, u"+OK", {u" 3 1200"}, u""},
    {{u"+OK-first", u"+OK second"}, u"+OK", {u"first", u"second"}, u""},
    {{u"+ abc"}, u"+", {u"abc"}, u""},
    {{u"-ERR bad"}, u"-ERR", {u"bad"}, u""},
    {{u"-ERR"}, u"-ERR", {u""}, u""},
    {{u"-err lower case"}, u"-ERR", {u"lower case"}, u""},
    {{u"-ERR [AUTH] Invalid login"}, u"-ERR", {u"Invalid login"}, u"[AUTH]"},
    {{u"-ERR [IN-USE]"}, u"-ERR", {u""}, u"[IN-USE]"},
    {{u"-ERR [auth] lower"}, u"-ERR", {u"lower"}, u"[auth]"},
    {{u"-ERR [SYS/PERM/x] detail"}, u"-ERR", {u"detail"}, u"[SYS/PERM/x]"},
    {{u"-ERR [LOGIN-DELAY no close"}, u"-ERR", {u"[LOGIN-DELAY no close"}, u""},
    {{u"-ERR [NOPE] unknown code"}, u"-ERR", {u"[NOPE] unknown code"}, u""},
    {{u"-ERR  leading blank"}, u"-ERR", {u"leading blank"}, u""},
    {{u"-ERR-[AUTH] one", u"-ERR [SYS/TEMP] two"}, u"-ERR", {u"one", u"two"}, u"[SYS/TEMP]"},
    // No known code: "-ERR" without text lines.
    {{u"* OK hello"}, u"-ERR", {}, u""},
    {{u"+OKAY ready"}, u"-ERR", {}, u""},
    {{u"+OK\tready"}, u"-ERR", {}, u""},
    {{u"hello"}, u"-ERR", {}, u""},
    // A later line's code keeps the reply from falling back to "-ERR", but Code stays empty.
    {{u"*-junk", u"+OK fine"}, u"", {u"junk", u"fine"}, u""},
    {{}, u"", {}, u""},
};

TEST(IdReplyPOP3, ParsesRawLinesIntoCodeTextAndEnhancedCode) {
    for (const ParseCase& c : kParseCases) {
        TIdReplyPOP3 reply;
        reply.ParseReplyLines(c.raw);
        EXPECT_EQ(reply.Code(), c.code) << Show(c.raw);
        EXPECT_EQ(reply.Text(), c.text) << Show(c.raw);
        EXPECT_EQ(reply.EnhancedCode(), c.enhancedCode) << Show(c.raw);
    }
}

TEST(IdReplyPOP3, EnhancedCodeOutlivesLaterRepliesUntilTheNextErr) {
    TIdReplyPOP3 reply;
    reply.ParseReplyLines({u"-ERR [AUTH] no"});
    reply.ParseReplyLines({u"+OK [IN-USE] not taken on +OK"});
    EXPECT_EQ(reply.EnhancedCode(), u"[AUTH]");
    EXPECT_EQ(reply.Text(), Lines{u"[IN-USE] not taken on +OK"});
    reply.ParseReplyLines({u"-ERR"});
    EXPECT_EQ(reply.EnhancedCode(), u"");
}

TEST(IdReplyPOP3, ParseReplacesThePreviousReply) {
    TIdReplyPOP3 reply;
    reply.ParseReplyLines({u"+OK-a", u"+OK b"});
    reply.ParseReplyLines({u"-ERR c"});
    EXPECT_EQ(reply.Code(), u"-ERR");
    EXPECT_EQ(reply.Text(), Lines{u"c"});
}

struct LineCase {
    std::u16string line;
    size_t codeEnd;
    int codeIndex;
    bool final;
};

const LineCase kLineCases[] = {
    {u"+OK 2 320", 4, 0, true},
    {u"-ERR bad", 5, 1, true},
    {u"+OK", 4, 0, true},
    {u"+OK-more text", 4, 0, false},
    {u"+ abc", 2, 2, true},
    {u"-ERR", 6, 1, true},
    {u"-ERR-x", 5, 1, false},
    {u"+OK 3-2", 4, 0, true},
    {u"+Ok x", 4, 0, true},
    {u"+OKAY ready", 6, -1, true},
    {u"+OK\tready", 10, -1, true},
    {u"* OK hello", 2, -1, true},
    {u"", 1, -1, true},
    {u"-", 3, -1, true},
    {u"--", 2, -1, false},
};

TEST(IdReplyPOP3, FindsCodeEndIndexAndFinalLine) {
    TIdReplyPOP3 reply;
    for (const LineCase& c : kLineCases) {
        const std::string shown = TextToUtf8(c.line);
        EXPECT_EQ(TIdReplyPOP3::ReplyCodeEnd(c.line), c.codeEnd) << shown;
        EXPECT_EQ(TIdReplyPOP3::ReplyCodeIndex(c.line), c.codeIndex) << shown;
        EXPECT_EQ(reply.IsFinalReplyLine(c.line), c.final) << shown;
    }
}

struct EnhancedCodeCase {
    std::u16string value;
    bool strict;
    bool loose;
};

const EnhancedCodeCase kEnhancedCodeCases[] = {
    {u"", true, true},          {u"  ", true, true},
    {u"[AUTH]", true, true},    {u"[SYS/TEMP]", true, true},
    {u"[auth]", false, true},   {u"[SYS/PERM/x]", false, true},
    {u"[AUTHX]", false, true},  {u"[LOGIN-DELAY", false, false},
    {u"AUTH]", false, false},   {u"[", false, false},
    {u"[]", false, false},      {u"[NOPE]", false, false},
    {u" [AUTH]", false, false},
};

TEST(IdReplyPOP3, ValidatesEnhancedCodesStrictlyAndLoosely) {
    for (const EnhancedCodeCase& c : kEnhancedCodeCases) {
        EXPECT_EQ(TIdReplyPOP3::IsValidEnhancedCode(c.value, true), c.strict) << TextToUtf8(c.value);
        EXPECT_EQ(TIdReplyPOP3::IsValidEnhancedCode(c.value, false), c.loose) << TextToUtf8(c.value);
    }
}

TEST(IdReplyPOP3, SetEnhancedCodeNormalisesOrRaises) {
    TIdReplyPOP3 reply;
    reply.SetEnhancedCode(u"auth");
    EXPECT_EQ(reply.EnhancedCode(), u"[AUTH]");
    reply.SetEnhancedCode(u"[sys/temp");
    EXPECT_EQ(reply.EnhancedCode(), u"[SYS/TEMP]");
    try {
        reply.SetEnhancedCode(u"sys/perm/x");
        FAIL() << "no exception";
    } catch (const EIdPOP3ReplyInvalidEnhancedCode& e) {
        EXPECT_EQ(e.Message(), u"Invalid Enhanced Code: sys/perm/x");
    }
    EXPECT_EQ(reply.EnhancedCode(), u"[SYS/TEMP]");
    reply.SetEnhancedCode(u"");
    EXPECT_EQ(reply.EnhancedCode(), u"");
}

TEST(IdReplyPOP3, NewRecordHoldsOkAndNothingElse) {
    TIdReplyPOP3 reply;
    EXPECT_EQ(reply.Code(), u"+OK");
    EXPECT_TRUE(reply.Text().empty());
    EXPECT_EQ(reply.EnhancedCode(), u"");
}

TEST(IdReplyPOP3, AcceptsOnlyKnownOrBlankCodes) {
    TIdReplyPOP3 reply;
    for (std::u16string_view code : {u"+OK", u"+ok", u"-Err", u"+", u"", u" \t"})
        EXPECT_TRUE(reply.IsAcceptableReplyCode(code)) << TextToUtf8(code);
    for (std::u16string_view code : {u"+OKAY", u"OK", u"-", u"200", u" +OK"})
        EXPECT_FALSE(reply.IsAcceptableReplyCode(code)) << TextToUtf8(code);
}

TEST(IdReplyPOP3, SettingCodeClearsTextUnlessTheCodeIsUnchanged) {
    TIdReplyPOP3 reply;
    reply.ParseReplyLines({u"-ERR [AUTH] kept"});
    reply.SetCode(u"-ERR");
    EXPECT_EQ(reply.Text(), Lines{u"kept"});
    reply.SetCode(u"+OK");
    EXPECT_TRUE(reply.Text().empty());
    EXPECT_EQ(reply.EnhancedCode(), u"[AUTH]");
}

TEST(IdReplyPOP3, SettingAnUnknownCodeRaisesAndKeepsTheRecord) {
    TIdReplyPOP3 reply;
    reply.ParseReplyLines({u"+OK still here"});
    try {
        reply.SetCode(u"250");
        FAIL() << "no exception";
    } catch (const EIdException& e) {
        EXPECT_EQ(e.Message(), u"Reply Code is not valid: 250");
    }
    EXPECT_EQ(reply.Code(), u"+OK");
    EXPECT_EQ(reply.Text(), Lines{u"still here"});
}

struct FailureCase {
    Lines raw;
    std::u16string failedCode;
    std::u16string message;
};

const FailureCase kFailureCases[] = {
    {{u"-ERR [AUTH] Invalid login"}, u"-ERR", u"Invalid login\r\n"},
    {{u"-ERR invalid password"}, u"-ERR", u"invalid password\r\n"},
    {{u"-ERR"}, u"-ERR", u"\r\n"},
    {{u"* OK hello"}, u"-ERR", u""},
    {{u"-ERR-one", u"-ERR two"}, u"-ERR", u"one\r\ntwo\r\n"},
    {{u"+OK unexpected"}, u"+OK", u"unexpected\r\n"},
};

TEST(IdReplyPOP3, RaiseReplyFailureCarriesCodeAndTextLines) {
    for (const FailureCase& c : kFailureCases) {
        TIdReplyPOP3 reply;
        reply.ParseReplyLines(c.raw);
        try {
            reply.RaiseReplyFailure();
            ADD_FAILURE() << "no exception";
        } catch (const EIdReplyPOP3Error& e) {
            EXPECT_EQ(e.FailedReplyCode(), c.failedCode) << Show(c.raw);
            EXPECT_EQ(e.Message(), c.message) << Show(c.raw);
        }
    }
}

} // namespace

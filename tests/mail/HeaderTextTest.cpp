#include "mail/HeaderText.h"

#include <gtest/gtest.h>

#include "base/Text.h"

// Each value as a header holds it, and the text a person is shown.
TEST(HeaderText, DecodesFieldValuesForDisplay) {
    const std::string manyMarks(100000, '?'), manyStarts = [] {
        std::string s;
        for (int i = 0; i < 30000; ++i)
            s += "=?a?q?";
        return s;
    }();
    std::string manyWords, manyAs;
    for (int i = 0; i < 2000; ++i)
        manyWords += "=?UTF-8?Q?a?=\r\n ", manyAs += "a";
    const struct {
        std::string_view value;
        std::string_view shown; // UTF-8
    } cases[] = {
        {"Hello\r\n\t world ", "Hello world"},
        {"=?UTF-8?Q?=C3=96rjan_Ek?=", "Örjan Ek"},
        {"=?UTF-8?B?R3LDvMOfZSBmcsOlbiDDhXNh?=", "Grüße från Åsa"},
        {"=?ISO-8859-1?Q?M=F6te_i_morgon?=", "Möte i morgon"},
        {"=?iso-8859-15?q?=A4_=BD?=", "€ œ"},
        {"=?windows-1252?Q?=93hi=94?=", "“hi”"},
        {"=?utf-8*sv?b?w6U=?=", "å"},
        {"=?koi8-r?B?8NLJ18XU?=", "Привет"}, // through the platform's converter
        // adjacent words joined, also across a fold and with a character split between them
        {"=?UTF-8?Q?=C3?= \r\n =?UTF-8?Q?=96?=rjan", "Örjan"},
        {"=?ISO-8859-1?Q?=E5?= =?UTF-8?Q?=C3=A4?=", "åä"},
        {"Re: =?UTF-8?Q?x?= and =?UTF-8?Q?y?= z", "Re: x and y z"},
        // malformed words and unknown charsets as they stand
        {"=?UTF-8?Q?=ZZ?= =?UTF-8?X?abc?= =?UTF-8?B?***?=",
         "=?UTF-8?Q?=ZZ?= =?UTF-8?X?abc?= =?UTF-8?B?***?="},
        {"=?no-such-set?Q?abc?= =?UTF-8?Q?abc", "=?no-such-set?Q?abc?= =?UTF-8?Q?abc"},
        {"=??Q?a?= =?UTF-8?Q?a b?=", "=??Q?a?= =?UTF-8?Q?a b?="},
        // raw bytes: UTF-8 when valid, else Windows-1252
        {"Gr\xC3\xBC\xC3\x9F"
         "e",
         "Grüße"},
        {"M\xF6te \x80", "Möte €"},
        // control characters and bidirectional overrides removed
        {std::string_view("a\x01"
                          "b\x7F c\0d",
                          8),
         "ab cd"},
        {"=?UTF-8?Q?a=00=1Bb=0Dc=C2=85?=", "ab c"},
        {"=?UTF-8?Q?evil=E2=80=AEtxt=E2=81=A6?= \xE2\x80\xAD", "eviltxt"},
        {"=?UTF-8?Q?line=E2=80=A8two?=", "line two"},
        // oversized and hostile values, in time linear in their length
        {manyMarks, manyMarks},
        {manyStarts, manyStarts},
        {manyWords, manyAs},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TextToUtf8(DecodeHeaderText(c.value)), c.shown) << c.value.substr(0, 80);
}

TEST(HeaderText, FindsUnfoldedFieldsAndTheSender) {
    const std::string_view header = "Received: x\r\nFROM : a@b\r\nsubject: Hi\r\n\tthere \r\n"
                                    "Subject: second\r\n\r\nSubject: body\r\n";
    EXPECT_EQ(HeaderFieldValue(header, "Subject"), "Hi\tthere");
    EXPECT_EQ(HeaderFieldValue(header, "from"), "a@b");
    EXPECT_EQ(HeaderFieldValue(header, "To"), "");
    EXPECT_EQ(HeaderFieldValue("Subject: no line end", "subject"), "no line end");

    const struct {
        std::string_view from, sender;
    } senders[] = {
        {"=?UTF-8?Q?=C3=96rjan_Ek?= <x@example.test>", "Örjan Ek"},
        {"\"Ek, =?UTF-8?Q?=C3=96rjan?=\" <x@example.test>, y@example.test", "Ek, Örjan"},
        {"\"Say \\\"hi\\\"\" <x@example.test>", "Say \"hi\""},
        {"<x@example.test>", "x@example.test"},
        {"x@example.test", "x@example.test"},
        {"x@example.test (Örjan (the) Ek)", "Örjan (the) Ek"},
        {"Team: , a@example.org, b@example.org;", "a@example.org"},
        {"\"\" <>", "\"\" <>"},
    };
    for (const auto& c : senders)
        EXPECT_EQ(TextToUtf8(SenderOfFrom(c.from)), c.sender) << c.from;
}

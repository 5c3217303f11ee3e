// The tray's image and tip from the mailboxes' last checks: several with the total and a line
// each, shortened to the tip's length by their names (one mailbox is proven through the window).

#include <gtest/gtest.h>

#include "app/TraySummary.h"

namespace {

const std::u16string SignInLine = u"Sign-in failed: no browser could be started";

MailboxTrayState Counted(std::u16string name, int32_t count) {
    return {std::move(name), count, false, u""};
}
MailboxTrayState Failed(std::u16string name, int32_t lastCount) {
    return {std::move(name), lastCount, true, u"Connection refused."};
}

} // namespace

TEST(TraySummary, ImageAndTipFromTheMailboxesLastChecks) {
    const std::u16string longName(60, u'w');
    const std::u16string surrogates = u"\U0001F4EC\U0001F4EC\U0001F4EC\U0001F4EC";
    const struct {
        const char* what;
        std::vector<MailboxTrayState> mailboxes;
        std::u16string signInLine;
        TUiLanguage language;
        size_t limit;
        TrayImage image;
        std::u16string tip;
    } rows[] = {
        {"one failed, with the sign-in line",
         {Failed(u"Work", 3)},
         SignInLine,
         ulEnglish,
         127,
         tiCheckFailed,
         u"The mailbox could not be checked.\nCheck failed: Connection refused.\n" + SignInLine},
        {"several: total and a line each",
         {Counted(u"Work", 2), Counted(u"anna", 1), Counted(u"Mailbox 3", 0)},
         u"",
         ulEnglish,
         127,
         tiMailWaiting,
         u"You have 3 new e-mail messages.\nWork: 2\nanna: 1\nMailbox 3: 0"},
        {"a failed one is named and left out of the total",
         {Counted(u"Work", 0), Failed(u"Home", 4)},
         SignInLine,
         ulEnglish,
         127,
         tiNoMail,
         u"You have no new e-mail messages.\nWork: 0\nHome: check failed\n" + SignInLine},
        {"one not checked yet: no count of it",
         {Counted(u"Work", 2), {u"Home", 0, false, u"", true}},
         u"",
         ulEnglish,
         127,
         tiMailWaiting,
         u"You have 2 new e-mail messages.\nWork: 2\nHome: \u2026"},
        {"all failed, Swedish",
         {Failed(u"Arbete", 1), Failed(u"Hem", 4)},
         u"",
         ulSwedish,
         127,
         tiCheckFailed,
         u"Du har inga nya e-postmeddelanden.\nArbete: kontrollen misslyckades\nHem: kontrollen "
         u"misslyckades"},
        {"long names shortened first, the longest most",
         {Counted(longName, 1), Counted(u"Home", 1)},
         u"",
         ulEnglish,
         60,
         tiMailWaiting,
         u"You have 2 new e-mail messages.\n" + std::u16string(16, u'w') + u"\u2026: 1\nHome: 1"},
        {"no limit cut through a surrogate pair",
         {Counted(surrogates, 1), Counted(surrogates, 2)},
         u"",
         ulEnglish,
         47,
         tiMailWaiting,
         u"You have 3 new e-mail messages.\n\U0001F4EC\u2026: 1\n\U0001F4EC\u2026: 2"},
        {"names down to the ellipsis, then the tip is cut",
         {Counted(u"Work", 7), Counted(u"Home", 9)},
         u"",
         ulEnglish,
         36,
         tiMailWaiting,
         u"You have 16 new e-mail messages.\n\u2026: "},
    };
    SetThousandSeparator(u',');
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const TraySummary summary = SummarizeTray(row.mailboxes, row.signInLine, row.language, row.limit);
        EXPECT_EQ(summary.image, row.image);
        EXPECT_EQ(summary.tip, row.tip);
        EXPECT_LE(summary.tip.size(), row.limit);
    }
    SetThousandSeparator(std::nullopt);
}

#include "app/TraySummary.h"

#include <algorithm>

namespace {

constexpr char16_t Ellipsis = u'\u2026';

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

// The text cut to `length` characters, never inside a surrogate pair.
std::u16string CutAt(std::u16string text, size_t length) {
    if (text.size() <= length)
        return text;
    text.resize(length);
    if (!text.empty() && IsHighSurrogate(text.back()))
        text.pop_back();
    return text;
}

// The name shortened to at most `length` characters, the last of them "…".
std::u16string ShortName(const std::u16string& name, size_t length) {
    if (name.size() <= length)
        return name;
    return CutAt(name, length - 1) + Ellipsis;
}

TraySummary OneMailbox(const MailboxTrayState& mailbox, TUiLanguage language) {
    if (!mailbox.failed)
        return {mailbox.count == 0 ? tiNoMail : tiMailWaiting, MessageCountTip(mailbox.count, language)};
    return {tiCheckFailed, PickLanguageText(language, u"Brevlådan kunde inte kontrolleras.",
                                            u"The mailbox could not be checked.") +
                               u"\n" +
                               PickLanguageText(language, u"Kontrollen misslyckades: ", u"Check failed: ") +
                               mailbox.failure};
}

// The tip of several mailboxes with every name cut to at most nameLength characters.
std::u16string SeveralMailboxesTip(const std::vector<MailboxTrayState>& mailboxes,
                                   const std::u16string& totalLine, const std::u16string& signInLine,
                                   TUiLanguage language, size_t nameLength) {
    std::u16string tip = totalLine;
    for (const MailboxTrayState& mailbox : mailboxes)
        tip += u"\n" + ShortName(mailbox.name, nameLength) + u": " +
               (mailbox.failed    ? PickLanguageText(language, u"kontrollen misslyckades", u"check failed")
                : mailbox.pending ? std::u16string(1, Ellipsis)
                                  : FormatCount(mailbox.count));
    if (!signInLine.empty())
        tip += u"\n" + signInLine;
    return tip;
}

} // namespace

std::u16string MessageCountTip(int64_t count, TUiLanguage language) {
    if (count == 0)
        return PickLanguageText(language, u"Du har inga nya e-postmeddelanden.",
                                u"You have no new e-mail messages.");
    if (count == 1)
        return PickLanguageText(language, u"Du har 1 nytt e-postmeddelande.",
                                u"You have 1 new e-mail message.");
    const std::u16string number = FormatCount(count);
    return PickLanguageText(language, u"Du har " + number + u" nya e-postmeddelanden.",
                            u"You have " + number + u" new e-mail messages.");
}

TraySummary SummarizeTray(const std::vector<MailboxTrayState>& mailboxes, const std::u16string& signInLine,
                          TUiLanguage language, size_t tipLimit) {
    if (mailboxes.size() == 1) {
        TraySummary summary = OneMailbox(mailboxes.front(), language);
        if (!signInLine.empty())
            summary.tip += u"\n" + signInLine;
        summary.tip = CutAt(std::move(summary.tip), tipLimit);
        return summary;
    }
    int64_t total = 0;
    bool allFailed = !mailboxes.empty();
    size_t nameLength = 0;
    for (const MailboxTrayState& mailbox : mailboxes) {
        if (!mailbox.failed && !mailbox.pending)
            total += mailbox.count;
        allFailed = allFailed && mailbox.failed;
        nameLength = std::max(nameLength, mailbox.name.size());
    }
    TraySummary summary;
    summary.image = allFailed ? tiCheckFailed : total == 0 ? tiNoMail : tiMailWaiting;
    const std::u16string totalLine = MessageCountTip(total, language);
    // The longest names are shortened first, down to "…" alone.
    summary.tip = SeveralMailboxesTip(mailboxes, totalLine, signInLine, language, nameLength);
    while (summary.tip.size() > tipLimit && nameLength > 1)
        summary.tip = SeveralMailboxesTip(mailboxes, totalLine, signInLine, language, --nameLength);
    summary.tip = CutAt(std::move(summary.tip), tipLimit);
    return summary;
}

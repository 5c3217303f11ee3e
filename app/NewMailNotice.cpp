#include "app/NewMailNotice.h"

#include <algorithm>

#include "mail/HeaderText.h"

namespace {

constexpr size_t SenderLength = 40;
constexpr size_t SubjectLength = 80;

// The text cut to `length` characters with an ellipsis at the cut, never inside a surrogate pair.
std::u16string Cut(std::u16string text, size_t length) {
    if (text.size() <= length)
        return text;
    size_t keep = length - 1;
    if (text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF)
        --keep;
    text.resize(keep);
    return text + u"\u2026";
}

std::u16string MessageLine(const std::string& header, TUiLanguage language) {
    std::u16string sender = SenderOfFrom(HeaderFieldValue(header, "From"));
    std::u16string subject = DecodeHeaderText(HeaderFieldValue(header, "Subject"));
    if (sender.empty())
        sender = PickLanguageText(language, u"(okänd avsändare)", u"(unknown sender)");
    if (subject.empty())
        subject = PickLanguageText(language, u"(inget ämne)", u"(no subject)");
    return Cut(std::move(sender), SenderLength) + u": " + Cut(std::move(subject), SubjectLength);
}

} // namespace

NewMailNoticeText ComposeNewMailNotice(int64_t arrived, const std::vector<std::string>& headers,
                                       TUiLanguage language) {
    NewMailNoticeText notice;
    const std::u16string number = FormatCount(arrived);
    notice.summary = arrived == 1
                         ? PickLanguageText(language, u"1 nytt e-postmeddelande", u"1 new e-mail message")
                         : PickLanguageText(language, number + u" nya e-postmeddelanden",
                                            number + u" new e-mail messages");
    const size_t named = std::min(headers.size(), static_cast<size_t>(NoticeNamesMost));
    for (size_t i = 0; i < named; ++i)
        notice.body += (i ? u"\n" : u"") + MessageLine(headers[i], language);
    if (named > 0 && arrived > static_cast<int64_t>(named)) {
        const std::u16string more = FormatCount(arrived - static_cast<int64_t>(named));
        notice.body +=
            u"\n" + PickLanguageText(language, u"och " + more + u" till", u"and " + more + u" more");
    }
    return notice;
}

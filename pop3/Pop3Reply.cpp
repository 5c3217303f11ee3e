#include "pop3/Pop3Reply.h"

#include <algorithm>

#include "base/Text.h"
#include "pop3/Pop3Errors.h"

namespace {

bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && SameTextAscii(text.substr(0, prefix.size()), prefix);
}

// 1-based position of the first `c` in `text`, 0 when absent.
size_t PositionOf(std::u16string_view text, char16_t c) {
    const size_t index = text.find(c);
    return index == std::u16string_view::npos ? 0 : index + 1;
}

} // namespace

TIdReplyPOP3::TIdReplyPOP3() {
    SetCode(std::u16string(Pop3ReplyCodes[0]));
}

void TIdReplyPOP3::SetEnhancedCode(const std::u16string& value) {
    if (value.empty()) {
        enhancedCode_.clear();
        return;
    }
    std::u16string bracketed = AsciiUpperCase(value);
    if (bracketed.front() != u'[')
        bracketed.insert(bracketed.begin(), u'[');
    if (bracketed.back() != u']')
        bracketed.push_back(u']');
    if (!IsValidEnhancedCode(bracketed, true))
        throw EIdPOP3ReplyInvalidEnhancedCode(u"Invalid Enhanced Code: " + value);
    enhancedCode_ = std::move(bracketed);
}

bool TIdReplyPOP3::IsAcceptableReplyCode(std::u16string_view code) const {
    if (TrimControlAndBlanks(code).empty())
        return true;
    return std::any_of(Pop3ReplyCodes.begin(), Pop3ReplyCodes.end(),
                       [&](std::u16string_view known) { return SameTextAscii(code, known); });
}

void TIdReplyPOP3::ParseReplyLines(const std::vector<std::u16string>& lines) {
    Clear();
    if (lines.empty())
        return;
    int codeIndex = ReplyCodeIndex(lines.front());
    if (codeIndex >= 0)
        SetCode(std::u16string(Pop3ReplyCodes[codeIndex]));
    for (const std::u16string& line : lines) {
        // A code on a later line only keeps the reply from counting as coded-less; Code stays
        // what the first line gave.
        if (codeIndex < 0)
            codeIndex = ReplyCodeIndex(line);
        std::u16string text = TextAfterCode(line);
        if (Code() == Pop3ReplyCodes[1])
            text = TakeEnhancedCode(std::move(text));
        AppendText(std::move(text));
    }
    if (codeIndex < 0)
        SetCode(std::u16string(Pop3ReplyCodes[1])); // also drops the text lines
}

bool TIdReplyPOP3::IsFinalReplyLine(std::u16string_view line) const {
    const size_t separator = ReplyCodeEnd(line);
    return separator > line.size() || line[separator - 1] != u'-';
}

void TIdReplyPOP3::RaiseReplyFailure() const {
    throw EIdReplyPOP3Error(Code(), TextAsMessage());
}

size_t TIdReplyPOP3::ReplyCodeEnd(std::u16string_view line) {
    // A leading "-" belongs to the code ("-ERR"), not the separator.
    const bool leadingDash = !line.empty() && line.front() == u'-';
    const std::u16string_view rest = leadingDash ? line.substr(1) : line;
    const size_t space = PositionOf(rest, u' ');
    const size_t dash = PositionOf(rest, u'-');
    size_t end = 0;
    if (space > 0)
        end = (dash > 0 && dash < space) ? dash : space;
    else
        end = dash > 0 ? dash : line.size() + 1;
    return leadingDash ? end + 1 : end;
}

int TIdReplyPOP3::ReplyCodeIndex(std::u16string_view line) {
    const std::u16string_view code = line.substr(0, ReplyCodeEnd(line) - 1);
    for (size_t i = 0; i < Pop3ReplyCodes.size(); ++i) {
        if (SameTextAscii(code, Pop3ReplyCodes[i]))
            return static_cast<int>(i);
    }
    return -1;
}

bool TIdReplyPOP3::IsValidEnhancedCode(std::u16string_view value, bool strict) {
    if (TrimControlAndBlanks(value).empty())
        return true;
    if (value.front() != u'[')
        return false;
    value.remove_prefix(1);
    if (value.empty() || value.back() != u']')
        return false;
    const std::u16string_view code = value.substr(0, value.find(u']'));
    if (strict)
        return std::find(Pop3EnhancedCodes.begin(), Pop3EnhancedCodes.end(), code) != Pop3EnhancedCodes.end();
    return std::any_of(Pop3EnhancedCodes.begin(), Pop3EnhancedCodes.end(),
                       [&](std::u16string_view known) { return StartsWithIgnoringCase(code, known); });
}

std::u16string TIdReplyPOP3::TextAfterCode(std::u16string_view line) {
    const size_t separator = ReplyCodeEnd(line);
    return separator < line.size() ? std::u16string(line.substr(separator)) : std::u16string();
}

std::u16string TIdReplyPOP3::TakeEnhancedCode(std::u16string text) {
    const size_t space = text.find(u' ');
    const std::u16string word = text.substr(0, space);
    if (!IsValidEnhancedCode(word, false))
        return text;
    enhancedCode_ = word;
    return space == std::u16string::npos ? std::u16string() : text.substr(space + 1);
}

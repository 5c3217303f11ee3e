#include "transport/ReplyRecord.h"

#include "transport/TransportErrors.h"

void TIdReply::SetCode(const std::u16string& code) {
    if (code == code_)
        return;
    if (!IsAcceptableReplyCode(code))
        throw EIdException(u"Reply Code is not valid: " + code);
    Clear();
    code_ = code;
}

void TIdReply::Clear() {
    text_.clear();
    code_.clear();
}

bool TIdReply::IsAcceptableReplyCode(std::u16string_view) const {
    return true;
}

bool TIdReply::IsFinalReplyLine(std::u16string_view) const {
    return true;
}

void TIdReply::RaiseReplyFailure() const {
    throw EIdReplyError(TextAsMessage());
}

std::u16string TIdReply::TextAsMessage() const {
    std::u16string message;
    for (const std::u16string& line : text_)
        message += line + u"\r\n";
    return message;
}

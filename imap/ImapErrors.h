#pragma once
// The exceptions of the IMAP client. Their messages carry the server's own text where there is one.

#include <string>

#include "transport/TransportErrors.h"

// The server refused a command ("NO", "BAD") or ended the session ("BYE"). Status() is that word,
// ResponseCode() the bracketed code before the text ("[AUTHENTICATIONFAILED]"), empty when none;
// the message is the server's text.
class ImapReplyError : public EIdReplyError {
public:
    ImapReplyError(std::u16string status, std::u16string responseCode, std::u16string message)
        : EIdReplyError(std::move(message)), status_(std::move(status)),
          responseCode_(std::move(responseCode)) {}
    const std::u16string& Status() const noexcept { return status_; }
    const std::u16string& ResponseCode() const noexcept { return responseCode_; }

private:
    std::u16string status_;
    std::u16string responseCode_;
};

// The server announced a literal larger than the client takes; nothing of it was read.
BG_DECLARE_EXCEPTION(ImapLiteralTooLarge, EIdException);
// A reply the client cannot use: a missing count, an unexpected tag or continuation.
BG_DECLARE_EXCEPTION(ImapProtocolError, EIdException);

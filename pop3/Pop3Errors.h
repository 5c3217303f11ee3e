#pragma once
// The exceptions of the POP3 client: refused replies and the session's own failures.

#include <string>

#include "transport/TransportErrors.h"

class EIdReplyPOP3Error : public EIdReplyError {
public:
    EIdReplyPOP3Error(std::u16string failedReplyCode, std::u16string message)
        : EIdReplyError(std::move(message)), failedReplyCode_(std::move(failedReplyCode)) {}
    const std::u16string& FailedReplyCode() const noexcept { return failedReplyCode_; }

private:
    std::u16string failedReplyCode_;
};
BG_DECLARE_EXCEPTION(EIdPOP3ReplyException, EIdException);
BG_DECLARE_EXCEPTION(EIdPOP3ReplyInvalidEnhancedCode, EIdPOP3ReplyException);

// POP3 session.
BG_DECLARE_EXCEPTION(EIdDoesNotSupportAPOP, EIdException);
BG_DECLARE_EXCEPTION(EIdSASLMechNeeded, EIdException);

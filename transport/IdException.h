#pragma once
// The exception classes of the program. `Exception` and `EConvertError` play the part of the
// run-time library's classes; everything the network code raises derives from `EIdException`
// and carries a fixed English message.

#include <cstdint>
#include <exception>
#include <string>

#include "transport/IdGlobal.h"

class Exception : public std::exception {
public:
    explicit Exception(std::u16string message) : message_(std::move(message)), utf8_(TextToUtf8(message_)) {}
    explicit Exception(std::string_view asciiMessage) : Exception(AsciiToText(asciiMessage)) {}
    const std::u16string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    std::u16string message_;
    std::string utf8_;
};

// Declares an exception class that only adds its own type to the hierarchy.
#define BG_DECLARE_EXCEPTION(Name, Base)                                                                     \
    class Name : public Base {                                                                               \
    public:                                                                                                  \
        using Base::Base;                                                                                    \
    }

BG_DECLARE_EXCEPTION(EConvertError, Exception);
BG_DECLARE_EXCEPTION(EIdException, Exception);

// The peer ended the connection in an orderly way: not a fault of the transport.
BG_DECLARE_EXCEPTION(EIdSilentException, EIdException);
BG_DECLARE_EXCEPTION(EIdConnClosedGracefully, EIdSilentException);

// A failed socket call; `ErrorCode` is in the Windows Sockets numbering (10004 and up, 11001 and up).
class EIdSocketError : public EIdException {
public:
    EIdSocketError(int32_t errorCode, std::u16string message)
        : EIdException(std::move(message)), errorCode_(errorCode) {}
    int32_t ErrorCode() const noexcept { return errorCode_; }

private:
    int32_t errorCode_;
};
BG_DECLARE_EXCEPTION(EIdNotASocket, EIdSocketError);

// A failure of the operating system outside the socket numbering (errno kept as its code).
class EOSError : public Exception {
public:
    EOSError(int32_t errorCode, std::u16string message)
        : Exception(std::move(message)), errorCode_(errorCode) {}
    int32_t ErrorCode() const noexcept { return errorCode_; }

private:
    int32_t errorCode_;
};

// The platform's socket library could not be loaded, or one of its functions not bound. The
// socket functions are linked directly here, so nothing raises it; it stays for callers that
// name it. The message is the title, then ": " and the platform's text when there is a code.
class EIdWinsockStubError : public EIdException {
public:
    EIdWinsockStubError(int32_t win32Error, const std::u16string& win32ErrorMessage,
                        const std::u16string& title)
        : EIdException(win32Error == 0 ? title : title + u": " + win32ErrorMessage), win32Error_(win32Error),
          win32ErrorMessage_(win32ErrorMessage), title_(title) {}
    int32_t Win32Error() const noexcept { return win32Error_; }
    const std::u16string& Win32ErrorMessage() const noexcept { return win32ErrorMessage_; }
    const std::u16string& Title() const noexcept { return title_; }

private:
    int32_t win32Error_;
    std::u16string win32ErrorMessage_;
    std::u16string title_;
};

BG_DECLARE_EXCEPTION(EIdStackError, EIdException);
BG_DECLARE_EXCEPTION(EIdStackInitializationFailed, EIdStackError);
BG_DECLARE_EXCEPTION(EIdStackSetSizeExceeded, EIdStackError);
BG_DECLARE_EXCEPTION(EIdIPVersionUnsupported, EIdStackError);
BG_DECLARE_EXCEPTION(EIdIPv6Unavailable, EIdException);
BG_DECLARE_EXCEPTION(EIdSocketHandleError, EIdException);
BG_DECLARE_EXCEPTION(EIdCouldNotBindSocket, EIdSocketHandleError);
BG_DECLARE_EXCEPTION(EIdCannotSetIPVersionWhenConnected, EIdSocketHandleError);

// Buffered line I/O.
BG_DECLARE_EXCEPTION(EIdReadTimeout, EIdException);
BG_DECLARE_EXCEPTION(EIdNotConnected, EIdException);
BG_DECLARE_EXCEPTION(EIdClosedSocket, EIdException);
BG_DECLARE_EXCEPTION(EIdReadLnMaxLineLengthExceeded, EIdException);
BG_DECLARE_EXCEPTION(EIdReadLnWaitMaxAttemptsExceeded, EIdException);
BG_DECLARE_EXCEPTION(EIdMaxCaptureLineExceeded, EIdException);
BG_DECLARE_EXCEPTION(EIdNoEncodingSpecified, EIdException);
BG_DECLARE_EXCEPTION(EIdTooMuchDataInBuffer, EIdException);
BG_DECLARE_EXCEPTION(EIdNotEnoughDataInBuffer, EIdException);

// TCP connection.
BG_DECLARE_EXCEPTION(EIdAlreadyConnected, EIdException);
BG_DECLARE_EXCEPTION(EIdHostRequired, EIdException);
BG_DECLARE_EXCEPTION(EIdPortRequired, EIdException);
BG_DECLARE_EXCEPTION(EIdConnectTimeout, EIdException);
BG_DECLARE_EXCEPTION(EIdConnectException, EIdException);

// Command and reply exchange.
BG_DECLARE_EXCEPTION(EIdReplyError, EIdException);
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

#pragma once
// The exceptions of the TCP transport: socket layer, buffered line I/O, connection and reply.

#include <cstdint>
#include <string>

#include "base/Exceptions.h"

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

// TLS: a failed handshake or a broken TLS connection, and a server certificate that did not
// pass verification.
BG_DECLARE_EXCEPTION(EIdTLSError, EIdException);
BG_DECLARE_EXCEPTION(EIdTLSCertificateRejected, EIdTLSError);

#pragma once
// The fixed English messages of the network code.

#include <string_view>

// Socket layer.
constexpr std::string_view RSStackAlreadyCreated = "Stack already created.";
constexpr std::string_view RSStackSetSizeExceeded = "Set Size Exceeded.";
constexpr std::string_view RSIPv6Unavailable = "IPv6 unavailable";
constexpr std::string_view RSIPVersionUnsupported =
    "The requested IPVersion / Address family is not supported.";
constexpr std::string_view RSCouldNotBindSocket =
    "Could not bind socket. Address and port are already in use.";
constexpr std::string_view RSCannotSetIPVersionWhenConnected = "Cannot change IPVersion when connected";
constexpr std::string_view RSConnectionClosedGracefully = "Connection Closed Gracefully.";

// Buffered line I/O.
constexpr std::string_view RSNoEncodingSpecified = "No encoding specified.";
constexpr std::string_view RSTooMuchDataInBuffer = "Too much data in buffer.";
constexpr std::string_view RSNotEnoughDataInBuffer = "Not enough data in buffer.";
constexpr std::string_view RSBufferMissingTerminator = "Buffer terminator must be specified.";
constexpr std::string_view RSBufferInvalidStartPos = "Buffer start position is invalid.";
constexpr std::string_view RSReadTimeout = "Read timed out.";
constexpr std::string_view RSNotConnected = "Not Connected";
constexpr std::string_view RSDisconnected = "Disconnected.";
constexpr std::string_view RSMaxLineLengthExceeded = "Max line length exceeded.";
constexpr std::string_view RSMaxLineAttemptsExceeded = "Max line read attempts exceeded.";
constexpr std::string_view RSMaximumNumberOfCaptureLineExceeded = "Maximum number of line allowed exceeded";

// TCP connection.
constexpr std::string_view RSAlreadyConnected = "Already connected.";
constexpr std::string_view RSConnectTimeout = "Connect timed out.";

// TLS.
constexpr std::string_view RSTlsNotAvailable = "TLS is not available: ";
constexpr std::string_view RSTlsHandshakeFailed = "TLS handshake failed: ";
constexpr std::string_view RSTlsConnectionFailed = "TLS connection failed: ";
constexpr std::string_view RSTlsClosedDuringHandshake = "the server closed the connection";
constexpr std::string_view RSCertificateExpired = "Certificate has expired.";
constexpr std::string_view RSCertificateNotYetValid = "Certificate is not yet valid.";
constexpr std::string_view RSCertificateHostMismatch = "Host name mismatch: ";
constexpr std::string_view RSCertificateAddressMismatch = "IP address mismatch: ";
constexpr std::string_view RSCertificateUnknownAuthority = "Certificate issued by an unknown authority.";
constexpr std::string_view RSCertificateSelfSigned = "Self-signed certificate.";
constexpr std::string_view RSCertificateRejected = "Certificate rejected: ";

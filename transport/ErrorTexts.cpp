#include "transport/ErrorTexts.h"

#include <array>

#include "base/Integers.h"
#include "transport/TransportErrors.h"

namespace {

constexpr int32_t HostNotFound = 11001;

struct CodeText {
    int32_t code;
    const char* text;
};

constexpr std::array<CodeText, 38> kSocketErrorTexts{{
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Buffer fault."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
}};

std::u16string TextOfCode(int32_t code) {
    if (code == HostNotFound)
        return AsciiToText("Host not found.");
    for (const auto& entry : kSocketErrorTexts)
        if (entry.code == code)
            return AsciiToText(entry.text);
    return {};
}

} // namespace

std::u16string SocketErrorText(int32_t code) {
    return u"Socket Error # " + IntToText(code) + u"\r\n" + TextOfCode(code);
}

void ThrowSocketError(int32_t code) {
    if (code == 10038)
        throw EIdNotASocket(code, SocketErrorText(code));
    throw EIdSocketError(code, SocketErrorText(code));
}

int32_t AddressInfoErrorCode(int32_t classicCode) {
    switch (classicCode) {
    case 1:
        return 0;
    case 2:
        return 11002;
    case 3:
        return 10022;
    case 4:
        return 11003;
    case 5:
        return 10047;
    case 6:
        return 8;
    case 7:
        return 11004;
    case 8:
        return 11001;
    case 9:
        return 10109;
    case 10:
        return 10044;
    default:
        return classicCode;
    }
}

#include "transport/ErrorTexts.h"

#include <array>
#include <cerrno>
#include <netdb.h>
#include <utility>

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

constexpr std::array<std::pair<int, int32_t>, 43> kErrnoCodes{{
    {EINTR, 10004},           {EBADF, 10009},           {EACCES, 10013},        {EPERM, 10013},
    {EFAULT, 10014},          {EINVAL, 10022},          {EMFILE, 10024},        {ENFILE, 10024},
    {EWOULDBLOCK, 10035},     {EINPROGRESS, 10036},     {EALREADY, 10037},      {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},    {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},    {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},
    {ENETUNREACH, 10051},     {ENETRESET, 10052},       {ECONNABORTED, 10053},  {ECONNRESET, 10054},
    {ENOBUFS, 10055},         {ENOMEM, 10055},          {EISCONN, 10056},       {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},       {EPIPE, 10058},           {ETOOMANYREFS, 10059},  {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},    {ELOOP, 10062},           {ENAMETOOLONG, 10063},  {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},    {ENOTEMPTY, 10066},       {EAGAIN, 10035},
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

int CheckSocketResult(int result) {
    if (result == -1)
        ThrowSocketError(SocketErrorFromErrno(errno));
    return result;
}

int32_t SocketErrorFromErrno(int errnoValue) {
    for (const auto& [errnoCode, socketCode] : kErrnoCodes)
        if (errnoCode == errnoValue)
            return socketCode;
    return errnoValue;
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

int32_t ClassicAddressInfoCode(int eaiCode) {
    switch (eaiCode) {
    // A name that exists without an address of the family asked for is "no data", not a fault
    // of the family itself: the user's host simply has no IPv4 address.
    case EAI_ADDRFAMILY:
        return 7;
    case EAI_AGAIN:
        return 2;
    case EAI_BADFLAGS:
        return 3;
    case EAI_FAIL:
        return 4;
    case EAI_FAMILY:
        return 5;
    case EAI_MEMORY:
        return 6;
    case EAI_NODATA:
        return 7;
    case EAI_NONAME:
        return 8;
    case EAI_SERVICE:
        return 9;
    case EAI_SOCKTYPE:
        return 10;
    case EAI_SYSTEM:
        return 11;
    default:
        return eaiCode;
    }
}

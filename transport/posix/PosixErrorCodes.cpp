// How POSIX failures map onto the program's socket error numbering.
#include "transport/ErrorTexts.h"

#include <array>
#include <cerrno>
#include <netdb.h>
#include <utility>

namespace {

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

} // namespace

int32_t SocketErrorFromErrno(int errnoValue) {
    for (const auto& [errnoCode, socketCode] : kErrnoCodes)
        if (errnoCode == errnoValue)
            return socketCode;
    return errnoValue;
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

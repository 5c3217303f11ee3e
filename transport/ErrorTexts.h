#pragma once
// Socket failures in the program's own numbering (the Windows Sockets codes: 10004 and up for
// socket calls, 11001 and up for name lookups), with their fixed English texts.

#include <cstdint>
#include <string>

// "Socket Error # <code>" CR LF, then the code's text (empty for a code without one).
std::u16string SocketErrorText(int32_t code);

// Raises EIdNotASocket for 10038 and EIdSocketError for every other code.
[[noreturn]] void ThrowSocketError(int32_t code);

// Maps a name-lookup failure in the classic numbering (1 address family ... 11 system) onto a
// socket error code. Code 11 has no socket counterpart: callers raise an operating-system error.
int32_t AddressInfoErrorCode(int32_t classicCode);

#ifndef _WIN32
// The code of the table for a POSIX errno value; errno values without a counterpart are kept.
int32_t SocketErrorFromErrno(int errnoValue);

// The classic lookup numbering of a getaddrinfo() failure (EAI_* value).
int32_t ClassicAddressInfoCode(int eaiCode);
#endif

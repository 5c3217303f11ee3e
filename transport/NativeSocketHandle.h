#pragma once
// The platform's native socket handle, without the platform's socket headers: a descriptor
// number on POSIX systems, a SOCKET (pointer-sized) under Windows Sockets.

#include <cstdint>

#ifdef _WIN32
using TIdStackSocketHandle = uintptr_t;
#else
using TIdStackSocketHandle = int;
#endif

// No socket: -1 on POSIX systems, INVALID_SOCKET (all bits set) under Windows Sockets.
inline constexpr TIdStackSocketHandle Id_INVALID_SOCKET = static_cast<TIdStackSocketHandle>(-1);

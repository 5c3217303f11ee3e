#pragma once
// The few socket calls the test servers make, the same on POSIX systems and under Windows
// Sockets (where the first use starts the library).

#include <cstddef>
#include <cstdint>

#include "transport/NativeSocketHandle.h"

using TestSocket = TIdStackSocketHandle;
inline constexpr TestSocket NoTestSocket = Id_INVALID_SOCKET;

// A TCP/IPv4 socket that started programs do not inherit; NoTestSocket when the system refuses.
TestSocket OpenTestSocket();
void CloseTestSocket(TestSocket socket);

// Binds to 127.0.0.1 (port 0: any) and listens; the port bound, or 0 on failure.
uint16_t ListenOnLoopback(TestSocket socket, int backlog);

// Starts a non-blocking connect to 127.0.0.1:port; true when it was made within waitMs.
bool ConnectToLoopback(TestSocket socket, uint16_t port, int waitMs);

// A blocking connect to 127.0.0.1:port with a receive time limit and no delay for small sends.
bool ConnectBlockingToLoopback(TestSocket socket, uint16_t port, int receiveTimeoutMs);

// Waits up to ms for the socket to be readable (or writable): true when it is.
bool WaitTestSocket(TestSocket socket, bool forWriting, int ms);

// The next connection on a listener that WaitTestSocket found readable; NoTestSocket if none.
// Its sends never block and its small sends are not delayed.
TestSocket AcceptTestClient(TestSocket listener);

// recv(): the count, 0 at the peer's close, -1 on failure.
int ReceiveSome(TestSocket socket, char* buffer, size_t size);
// send() without blocking or ending the process: the count sent, 0 when the socket cannot take
// more now, -1 on failure.
int SendNow(TestSocket socket, const char* bytes, size_t size);
// send() of everything, blocking; false on failure.
bool SendEverything(TestSocket socket, const char* bytes, size_t size);

// Whether this Windows build runs under Wine, whose sockets and TLS cannot show everything the
// tests look at (false on POSIX systems).
bool RunningUnderWine();

// Whether closing after ResetOnClose really sends a reset: Wine's sockets ignore a zero linger
// time and end the connection in an orderly way.
bool ResetsReachThePeer();

// Ends the sending side (FIN).
void ShutdownSending(TestSocket socket);
// Makes closing the socket send a reset (RST) instead of FIN.
void ResetOnClose(TestSocket socket);

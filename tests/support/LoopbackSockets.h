#pragma once
// Loopback sockets for the test servers: a listener on a port the system chooses, and a port
// that nobody listens on.

#include <cstdint>

// A socket listening on 127.0.0.1 with the given backlog; `port` receives the port chosen.
// Throws std::runtime_error when the system refuses.
int OpenLoopbackListener(int backlog, uint16_t& port);

// A port of 127.0.0.1 that was free a moment ago: nothing listens there, so connects are refused
// (until a server the test starts binds it).
uint16_t FreeLoopbackPort();

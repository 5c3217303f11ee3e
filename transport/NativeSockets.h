#pragma once
// The platform's socket headers, for the files that make socket calls themselves.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using TIdSocketLength = int;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
using TIdSocketLength = socklen_t;
#endif

#include "transport/NativeSocketHandle.h"

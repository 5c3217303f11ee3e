#pragma once
// The IP version of a connection.

#include <cstdint>

enum TIdIPVersion : uint8_t { Id_IPv4 = 0, Id_IPv6 = 1 };

#pragma once
// Socket addresses to and from the numeric address texts of the socket layer.

#include <cstdint>
#include <string>

#include "transport/ConnectionSettings.h"
#include "transport/NativeSockets.h"
#include "transport/SocketStack.h"

// The socket address of a numeric address text; an empty text is the any-address. IPv4 texts
// are read part by part as IsIPv4Literal reads them. Raises EIdSocketError 10022 for an IPv6
// text that is not an address, EIdIPVersionUnsupported for an unknown version.
TIdSocketLength BuildSocketAddress(const std::u16string& ip, TIdIPVersion version, uint16_t port,
                                   sockaddr_storage& storage);

// The address, port and version of a socket address. Raises EIdIPVersionUnsupported for a
// family other than IPv4 and IPv6.
SocketAddress SocketAddressFrom(const sockaddr_storage& storage);

// Eight groups in upper-case hexadecimal without leading zeros, joined by ":".
std::u16string IPv6Text(const in6_addr& address);

// The platform's address family of an IP version. Raises EIdIPVersionUnsupported.
int AddressFamilyOf(TIdIPVersion version);

// Reads the next "."-separated part off text as an address byte; -1 when it is not one.
int32_t TakeIPv4AddressPart(std::u16string_view& text);

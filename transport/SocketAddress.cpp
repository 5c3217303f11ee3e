#include "transport/SocketAddress.h"

#include <cstring>

#include "base/Integers.h"
#include "transport/ErrorTexts.h"
#include "transport/Messages.h"
#include "transport/TransportErrors.h"

namespace {

constexpr int32_t InvalidArgument = 10022;

TIdSocketLength BuildIPv4Address(const std::u16string& ip, uint16_t port, sockaddr_storage& storage) {
    auto& address = reinterpret_cast<sockaddr_in&>(storage);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (!ip.empty()) {
        std::u16string_view rest(ip);
        uint8_t* bytes = reinterpret_cast<uint8_t*>(&address.sin_addr);
        for (int i = 0; i < 4; ++i)
            bytes[i] = static_cast<uint8_t>(TakeIPv4AddressPart(rest));
    }
    return sizeof(sockaddr_in);
}

TIdSocketLength BuildIPv6Address(const std::u16string& ip, uint16_t port, sockaddr_storage& storage) {
    auto& address = reinterpret_cast<sockaddr_in6&>(storage);
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    if (!ip.empty() && inet_pton(AF_INET6, TextToUtf8(ip).c_str(), &address.sin6_addr) != 1)
        ThrowSocketError(InvalidArgument);
    return sizeof(sockaddr_in6);
}

std::u16string IPv4Text(const in_addr& address) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&address);
    return IntToText(bytes[0]) + u"." + IntToText(bytes[1]) + u"." + IntToText(bytes[2]) + u"." +
           IntToText(bytes[3]);
}

} // namespace

int32_t TakeIPv4AddressPart(std::u16string_view& text) {
    const size_t dot = text.find(u'.');
    const std::u16string_view part = text.substr(0, dot);
    text = dot == std::u16string_view::npos ? std::u16string_view() : text.substr(dot + 1);
    const int32_t value = TryTextToInt(TrimControlAndBlanks(part)).value_or(-1);
    return value >= 0 && value <= 255 ? value : -1;
}

int AddressFamilyOf(TIdIPVersion version) {
    if (version == Id_IPv4)
        return AF_INET;
    if (version == Id_IPv6)
        return AF_INET6;
    throw EIdIPVersionUnsupported(RSIPVersionUnsupported);
}

TIdSocketLength BuildSocketAddress(const std::u16string& ip, TIdIPVersion version, uint16_t port,
                                   sockaddr_storage& storage) {
    std::memset(&storage, 0, sizeof storage);
    if (AddressFamilyOf(version) == AF_INET)
        return BuildIPv4Address(ip, port, storage);
    return BuildIPv6Address(ip, port, storage);
}

std::u16string IPv6Text(const in6_addr& address) {
    static constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&address);
    std::u16string text;
    for (int group = 0; group < 8; ++group) {
        const unsigned value = (bytes[2 * group] << 8) | bytes[2 * group + 1];
        std::u16string digits;
        for (unsigned rest = value; rest != 0 || digits.empty(); rest >>= 4)
            digits.insert(digits.begin(), kHexDigits[rest & 0xF]);
        text += (group == 0 ? u"" : u":") + digits;
    }
    return text;
}

SocketAddress SocketAddressFrom(const sockaddr_storage& storage) {
    if (storage.ss_family == AF_INET) {
        const auto& address = reinterpret_cast<const sockaddr_in&>(storage);
        return {IPv4Text(address.sin_addr), ntohs(address.sin_port), Id_IPv4};
    }
    if (storage.ss_family == AF_INET6) {
        const auto& address = reinterpret_cast<const sockaddr_in6&>(storage);
        return {IPv6Text(address.sin6_addr), ntohs(address.sin6_port), Id_IPv6};
    }
    throw EIdIPVersionUnsupported(RSIPVersionUnsupported);
}

#include "mail/BearerSasl.h"

#include <algorithm>

#include "base/Base64.h"
#include "base/Text.h"

namespace {

void RequireFieldText(std::string_view bytes, const char* what) {
    const bool hasControl = std::any_of(bytes.begin(), bytes.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
    if (hasControl)
        throw EBearerSaslBadValue(std::string("Control character in the ") + what + ".");
}

// The GS2 header's authzid escapes "," and "=" (RFC 5801).
std::string EscapeSaslName(std::string_view name) {
    std::string escaped;
    for (char c : name) {
        if (c == ',')
            escaped += "=2C";
        else if (c == '=')
            escaped += "=3D";
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

std::u16string BearerMechanismName(BearerMechanism mechanism) {
    return mechanism == BearerMechanism::OAuthBearer ? u"OAUTHBEARER" : u"XOAUTH2";
}

BearerMechanism ChooseBearerMechanism(const std::vector<std::u16string>& serverMechanisms) {
    const auto lists = [&](std::u16string_view name) {
        return std::any_of(serverMechanisms.begin(), serverMechanisms.end(),
                           [&](const std::u16string& m) { return SameTextAscii(m, name); });
    };
    return lists(u"OAUTHBEARER") && !lists(u"XOAUTH2") ? BearerMechanism::OAuthBearer
                                                       : BearerMechanism::XOAuth2;
}

std::u16string BearerInitialResponse(BearerMechanism mechanism, std::u16string_view user,
                                     std::u16string_view host, uint16_t port, std::string_view token) {
    const std::string userBytes = TextToUtf8(user);
    const std::string hostBytes = TextToUtf8(host);
    RequireFieldText(userBytes, "user name");
    RequireFieldText(hostBytes, "host name");
    RequireFieldText(token, "access token");
    if (token.empty())
        throw EBearerSaslBadValue(std::string_view("No access token."));
    std::string message;
    if (mechanism == BearerMechanism::XOAuth2) {
        message = "user=" + userBytes +
                  "\x01"
                  "auth=Bearer " +
                  std::string(token) + "\x01\x01";
    } else {
        message = "n,a=" + EscapeSaslName(userBytes) +
                  ",\x01"
                  "host=" +
                  hostBytes +
                  "\x01"
                  "port=" +
                  std::to_string(port) +
                  "\x01"
                  "auth=Bearer " +
                  std::string(token) + "\x01\x01";
    }
    return AsciiToText(Base64Encode(message));
}

std::u16string DecodeBearerChallenge(std::u16string_view challenge) {
    const auto decoded = Base64Decode(TextToUtf8(challenge));
    return decoded ? Utf8ToText(*decoded) : std::u16string(challenge);
}

#pragma once
// The SASL mechanisms that sign in with an OAuth 2.0 bearer token instead of a password: XOAUTH2 and
// OAUTHBEARER (RFC 7628). The mail clients send the mechanism's name, answer the server's "+ "
// continuation with the initial response built here, and answer a failure challenge (a "+ " line
// with base64 JSON) with an empty line, after which the server sends its refusal.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Exceptions.h"

enum class BearerMechanism { XOAuth2, OAuthBearer };

// "XOAUTH2" or "OAUTHBEARER", as sent after the sign-in command.
std::u16string BearerMechanismName(BearerMechanism mechanism);
// XOAUTH2, unless the server's SASL mechanisms (any letter case) name OAUTHBEARER and not XOAUTH2.
BearerMechanism ChooseBearerMechanism(const std::vector<std::u16string>& serverMechanisms);

// The base64 initial response: XOAUTH2 "user=<user>\x01auth=Bearer <token>\x01\x01"; OAUTHBEARER
// "n,a=<user>,\x01host=<host>\x01port=<port>\x01auth=Bearer <token>\x01\x01" (a "," or "=" in the
// user name escaped as "=2C" and "=3D"). The user name goes as UTF-8. Raises EBearerSaslBadValue
// when the user name, host or token holds a control character (it would end a field early), or
// the token is empty.
std::u16string BearerInitialResponse(BearerMechanism mechanism, std::u16string_view user,
                                     std::u16string_view host, uint16_t port, std::string_view token);

// The server's failure challenge decoded for a report: the JSON text, or the challenge as it stands
// when it is no base64.
std::u16string DecodeBearerChallenge(std::u16string_view challenge);

BG_DECLARE_EXCEPTION(EBearerSaslBadValue, EIdException);

// The server refused the bearer token (after the failure challenge). Message: the server's text.
class EBearerTokenRejected : public EIdException {
public:
    EBearerTokenRejected(std::u16string serverText, std::u16string challenge = {})
        : EIdException(std::move(serverText)), challenge_(std::move(challenge)) {}
    // The decoded failure challenge, when the server sent one.
    const std::u16string& Challenge() const noexcept { return challenge_; }

private:
    std::u16string challenge_;
};

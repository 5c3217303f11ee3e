#include "mail/BearerSasl.h"

#include <gtest/gtest.h>

#include "base/Base64.h"
#include "base/Text.h"

namespace {
std::string Decoded(const std::u16string& response) {
    return Base64Decode(TextToUtf8(response)).value();
}
} // namespace

TEST(BearerSasl, BuildsEachMechanismsInitialResponse) {
    using namespace std::string_literals;
    const struct {
        BearerMechanism mechanism;
        std::u16string_view user;
        std::string expected;
    } cases[] = {
        {BearerMechanism::XOAuth2, u"rig",
         "user=rig\x01"
         "auth=Bearer T0k\x01\x01"s},
        {BearerMechanism::OAuthBearer, u"rig",
         "n,a=rig,\x01"
         "host=127.0.0.5\x01"
         "port=995\x01"
         "auth=Bearer T0k\x01\x01"s},
        {BearerMechanism::OAuthBearer, u"a,b=c",
         "n,a=a=2Cb=3Dc,\x01"
         "host=127.0.0.5\x01"
         "port=995\x01"
         "auth=Bearer T0k\x01\x01"s},
        {BearerMechanism::XOAuth2, u"\u00e5sa@ex.se",
         "user=\xc3\xa5sa@ex.se\x01"
         "auth=Bearer T0k\x01\x01"s},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Decoded(BearerInitialResponse(c.mechanism, c.user, u"127.0.0.5", 995, "T0k")), c.expected);
}

TEST(BearerSasl, RefusesValuesThatWouldEndAFieldEarly) {
    EXPECT_THROW(BearerInitialResponse(BearerMechanism::XOAuth2,
                                       u"a\x01"
                                       u"auth=x",
                                       u"h", 1, "t"),
                 EBearerSaslBadValue);
    EXPECT_THROW(BearerInitialResponse(BearerMechanism::XOAuth2, u"a", u"h", 1, "t\r\nQUIT"),
                 EBearerSaslBadValue);
    EXPECT_THROW(BearerInitialResponse(BearerMechanism::OAuthBearer, u"a", u"h\x01", 1, "t"),
                 EBearerSaslBadValue);
    EXPECT_THROW(BearerInitialResponse(BearerMechanism::XOAuth2, u"a", u"h", 1, ""), EBearerSaslBadValue);
}

TEST(BearerSasl, ChoosesOAuthBearerOnlyWhenXOAuth2IsMissing) {
    using Mechs = std::vector<std::u16string>;
    EXPECT_EQ(ChooseBearerMechanism(Mechs{u"XOAUTH2", u"OAUTHBEARER"}), BearerMechanism::XOAuth2);
    EXPECT_EQ(ChooseBearerMechanism(Mechs{u"oauthbearer"}), BearerMechanism::OAuthBearer);
    EXPECT_EQ(ChooseBearerMechanism(Mechs{}), BearerMechanism::XOAuth2);
    EXPECT_EQ(DecodeBearerChallenge(u"eyJzdGF0dXMiOiI0MDEifQ=="), u"{\"status\":\"401\"}");
    EXPECT_EQ(DecodeBearerChallenge(u"not base64!"), u"not base64!");
}

#include "signin/OAuthRequests.h"

#include <gtest/gtest.h>

#include "base/Base64.h"
#include "signin/Pkce.h"
#include "signin/SignInErrors.h"

// Read, then checked as a bearer token (after a rotated refresh token would have been kept).
TEST(OAuthRequests, ReadsTokenAnswersAndRefusals) {
    enum Outcome { kToken, kRefused, kEndpointFault };
    const struct {
        long status;
        std::string body;
        Outcome outcome;
        std::string detail; // the access token, the refusal's code, or the fault's message
    } cases[] = {
        {200, R"({"access_token":"A","expires_in":30,"refresh_token":"R","token_type":"Bearer"})", kToken,
         "A"},
        {200, R"({"access_token":"aZ09-._~+/==","expires_in":"30","token_type":"bEaReR"})", kToken,
         "aZ09-._~+/=="},
        {200, R"({"access_token":"A","expires_in":30})", kToken, "A"},
        {400, R"({"error":"invalid_grant","error_description":"grant request is invalid"})", kRefused,
         "invalid_grant"},
        {503, R"({"error":"invalid_client","error_description":"busy"})", kEndpointFault,
         "Token endpoint answered HTTP 503: invalid_client: busy"},
        {500, "<html>Internal Server Error</html>", kEndpointFault,
         "Token endpoint answered HTTP 500 without a token answer."},
        {200, "not json at all", kEndpointFault, "Token endpoint answered HTTP 200 without a token answer."},
        {200, R"([1,2,3])", kEndpointFault, "Token endpoint answered HTTP 200 without a token answer."},
        {200, R"({"token_type":"Bearer"})", kEndpointFault,
         "Token endpoint answered without an access token."},
        {200, R"({"access_token":"A","token_type":"mac"})", kEndpointFault,
         "Token endpoint answered a token of type \"mac\", not Bearer."},
        {200, R"({"access_token":"A","refresh_token":"R\u0000"})", kEndpointFault,
         "Token endpoint answered an unusable refresh token."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        try {
            const TokenAnswer answer = ReadTokenAnswer(c.status, c.body);
            RequireBearerToken(answer);
            EXPECT_EQ(c.outcome, kToken);
            EXPECT_EQ(answer.AccessToken, c.detail);
            EXPECT_EQ(answer.ExpiresIn, 30);
        } catch (const ETokenRefused& refused) {
            EXPECT_EQ(c.outcome, kRefused);
            EXPECT_EQ(refused.ErrorCode(), c.detail);
            EXPECT_EQ(refused.Message(), u"invalid_grant: grant request is invalid");
        } catch (const ETokenEndpointError& fault) {
            EXPECT_EQ(c.outcome, kEndpointFault);
            EXPECT_EQ(fault.what(), c.detail);
        }
    }
    // Outside RFC 6750's token characters: refused at once rather than sent to fail every check.
    for (const char* token : {"A\r\nQUIT", "a b", "a=b", "===", "\u00e5", "a,b", "a\"b"}) {
        TokenAnswer answer;
        answer.AccessToken = token;
        EXPECT_THROW(RequireBearerToken(answer), ETokenEndpointError) << token;
    }
}

// Any lifetime is one the clock can add: nonsense is cut to a year, a negative one is expired.
TEST(OAuthRequests, TakesTokenLifetimesWithinBounds) {
    const struct {
        std::string expiresIn;
        int64_t seconds;
    } cases[] = {
        {"3599", 3599},
        {"\"7200\"", 7200},
        {"-5", 0},
        {"\"-5\"", 0},
        {"18446744073709551615", MaxTokenLifetimeSeconds},
        {"9223372036854775807", MaxTokenLifetimeSeconds},
        {"\"99999999999999999999999\"", MaxTokenLifetimeSeconds},
        {"-9223372036854775808", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expiresIn);
        EXPECT_EQ(ReadTokenAnswer(200, R"({"access_token":"A","expires_in":)" + c.expiresIn + "}").ExpiresIn,
                  c.seconds);
    }
}

TEST(OAuthRequests, BuildsTheAuthorizeAddressAndGrantBodies) {
    OAuthClient client{*ProviderPreset(u"Google", MailboxProtocol::Pop3), "id 1", ""};
    const std::string url = AuthorizeUrl(client, "http://127.0.0.1:5/", "st", "ch", "a+b@ex.se");
    EXPECT_EQ(url,
              "https://accounts.google.com/o/oauth2/v2/auth?response_type=code&client_id=id%201"
              "&redirect_uri=http%3A%2F%2F127.0.0.1%3A5%2F&scope=https%3A%2F%2Fmail.google.com%2F&state=st"
              "&code_challenge=ch&code_challenge_method=S256&login_hint=a%2Bb%40ex.se"
              "&access_type=offline&prompt=consent");
    const auto fields = ParseQuery(url.substr(url.find('?') + 1));
    EXPECT_EQ(fields.at("login_hint"), "a+b@ex.se");
    EXPECT_EQ(fields.at("redirect_uri"), "http://127.0.0.1:5/");
    client.ClientSecret = "s&=";
    EXPECT_EQ(RefreshGrantBody(client, "r/+"),
              "grant_type=refresh_token&refresh_token=r%2F%2B&client_id=id%201"
              "&client_secret=s%26%3D");
    EXPECT_NO_THROW(RequireHttpsAddress("HTTPS://idp.test/auth"));
    for (const char* opened : {"http://idp.test/auth", "file:///bin/sh", "/usr/bin/xterm", ""})
        EXPECT_THROW(RequireHttpsAddress(opened), EIdException) << opened;
    EXPECT_EQ(ParseQuery("a=%zz&b=1+2&a=2&=x&c"),
              (std::map<std::string, std::string>{{"a", "%zz"}, {"b", "1 2"}, {"c", ""}}));
}

TEST(OAuthRequests, ProofKeyIsFreshAndMatchesItsChallenge) {
    const PkcePair first = NewPkcePair(), second = NewPkcePair();
    EXPECT_EQ(first.Verifier.size(), 43u);
    EXPECT_EQ(first.State.size(), 22u);
    EXPECT_NE(first.Verifier, second.Verifier);
    EXPECT_NE(first.State, second.State);
    // RFC 7636, appendix B.
    EXPECT_EQ(Base64UrlEncode(Sha256Digest("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk")),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}

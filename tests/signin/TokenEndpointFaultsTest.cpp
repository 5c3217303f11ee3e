// A token endpoint that misbehaves or refuses, played by the scripted server over TLS: every fault
// ends in bounded time with a clear failure and is asked again at the next check; a refusal only
// the user can mend stops every request and says to sign in again, naming the provider's reason.
#include <gtest/gtest.h>

#include "signin/TokenStore.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestCertificates.h"

using namespace std::chrono_literals;

TEST(TokenEndpointFaults, FaultsAreTriedAgainAndRefusalsNeedASignIn) {
    if (!ScriptedServer::CanServeTls())
        GTEST_SKIP() << "no TLS to serve with";
    TestCertificates::Get(); // trusted from here on
    const auto answer = [](const std::string& status, const std::string& body) {
        return ServerSendsBytes("HTTP/1.1 " + status +
                                "\r\nContent-Type: application/json\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    };
    const auto refusal = [&](const std::string& code) {
        return answer("400 Bad Request",
                      R"({"error":")" + code + R"(","error_description":"AADSTS1: Ask.\r\nTrace ID: 1"})");
    };
    const struct {
        const char* name;
        ScriptStep reply;
        const char* host;
        std::u16string message; // of the endpoint's fault, or the refusal kept for the window
        bool signInNeeded;
    } cases[] = {
        {"500", answer("500 Internal Server Error", "<h1>oops</h1>"), "127.0.0.1",
         u"Token endpoint answered HTTP 500 without a token answer.", false},
        {"503 with an error", answer("503 Service Unavailable", R"({"error":"invalid_grant"})"), "127.0.0.1",
         u"Token endpoint answered HTTP 503: invalid_grant", false},
        {"garbage", answer("200 OK", "\x01\x02garbage"), "127.0.0.1",
         u"Token endpoint answered HTTP 200 without a token answer.", false},
        {"oversized", answer("200 OK", std::string(70 * 1024, 'x')), "127.0.0.1",
         u"Token endpoint's answer is too large.", false},
        {"silent", ServerStaysSilent(5s), "127.0.0.1", u"Token endpoint did not answer in time.", false},
        {"wrong name", answer("200 OK", "{}"), "localhost", u"", false},
        {"temporarily_unavailable", refusal("temporarily_unavailable"), "127.0.0.1", u"", false},
        {"interaction_required", refusal("interaction_required"), "127.0.0.1",
         u"interaction_required: AADSTS1: Ask.", true},
        {"consent_required", refusal("consent_required"), "127.0.0.1", u"consent_required: AADSTS1: Ask.",
         true},
        {"login_required", refusal("login_required"), "127.0.0.1", u"login_required: AADSTS1: Ask.", true},
        {"invalid_client", refusal("invalid_client"), "127.0.0.1", u"invalid_client: AADSTS1: Ask.", true},
        {"unauthorized_client", refusal("unauthorized_client"), "127.0.0.1",
         u"unauthorized_client: AADSTS1: Ask.", true},
        {"invalid_scope", refusal("invalid_scope"), "127.0.0.1", u"invalid_scope: AADSTS1: Ask.", true},
        {"invalid_grant", refusal("invalid_grant"), "127.0.0.1", u"invalid_grant: AADSTS1: Ask.", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(
            {ServerStartsTls(), ClientSends("POST /token HTTP/1.1"), c.reply, CloseConnection()});
        TemporaryFolder folder("bg-token-faults");
        OAuthClient client;
        client.Provider.TokenUrl =
            std::string("https://") + c.host + ":" + std::to_string(server.Port()) + "/token";
        client.ClientId = "id";
        auto secrets = OpenSecretFile(folder.Path().u16string());
        secrets->Write(u"e", StoredTokenRecord(client, "refresh"));
        int posts = 0;
        TokenStore tokens(client, std::move(secrets), u"e",
                          [&](const std::string& url, const std::string& body) {
                              ++posts;
                              return HttpsPostForm(url, body, 1000, TokenStore::MaxAnswerBytes);
                          });
        const auto start = std::chrono::steady_clock::now();
        try {
            tokens.AccessToken();
            ADD_FAILURE() << "no failure";
        } catch (const ETokenRefused& refused) {
            EXPECT_EQ(tokens.Refusal(), c.message);
        } catch (const ETokenEndpointError& failure) {
            if (!c.message.empty())
                EXPECT_EQ(failure.Message(), c.message);
            else
                EXPECT_EQ(failure.Message().rfind(u"Token endpoint unreachable: ", 0), 0u) << failure.what();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
        EXPECT_EQ(tokens.SignInNeeded(), c.signInNeeded);
        EXPECT_EQ(tokens.Cause(), c.signInNeeded ? SignInCause::Refused : SignInCause::None);
        // The next check: asked again after a fault, never after a refusal that needs the user.
        EXPECT_THROW(tokens.AccessToken(), EIdException);
        EXPECT_EQ(posts, c.signInNeeded ? 1 : 2);
    }
}

// A token endpoint that misbehaves, played by the scripted server over TLS: every fault ends in
// bounded time with a clear failure, and the store asks again next time instead of giving up.
#include <gtest/gtest.h>

#include "signin/TokenStore.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestCertificates.h"

using namespace std::chrono_literals;

TEST(TokenEndpointFaults, EachFaultIsBoundedAndReportedAndTriedAgainLater) {
    if (!ScriptedServer::CanServeTls())
        GTEST_SKIP() << "no TLS to serve with";
    TestCertificates::Get(); // trusted from here on
    const auto answer = [](const std::string& status, const std::string& body) {
        return ServerSendsBytes("HTTP/1.1 " + status +
                                "\r\nContent-Type: application/json\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    };
    const struct {
        const char* name;
        ScriptStep reply;
        const char* host;
        std::u16string message;
    } cases[] = {
        {"500", answer("500 Internal Server Error", "<h1>oops</h1>"), "127.0.0.1",
         u"Token endpoint answered HTTP 500 without a token answer."},
        {"garbage", answer("200 OK", "\x01\x02garbage"), "127.0.0.1",
         u"Token endpoint answered HTTP 200 without a token answer."},
        {"oversized", answer("200 OK", std::string(70 * 1024, 'x')), "127.0.0.1",
         u"Token endpoint's answer is too large."},
        {"silent", ServerStaysSilent(5s), "127.0.0.1", u"Token endpoint did not answer in time."},
        {"wrong name", answer("200 OK", "{}"), "localhost", u""},
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
        secrets->Write(u"e", "refresh");
        TokenStore tokens(client, std::move(secrets), u"e",
                          [](const std::string& url, const std::string& body) {
                              return HttpsPostForm(url, body, 1000, TokenStore::MaxAnswerBytes);
                          });
        const auto start = std::chrono::steady_clock::now();
        try {
            tokens.AccessToken();
            ADD_FAILURE() << "no failure";
        } catch (const ETokenEndpointError& failure) {
            if (!c.message.empty())
                EXPECT_EQ(failure.Message(), c.message);
            else
                EXPECT_EQ(failure.Message().rfind(u"Token endpoint unreachable: ", 0), 0u) << failure.what();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
        EXPECT_FALSE(tokens.SignInNeeded());
    }
}

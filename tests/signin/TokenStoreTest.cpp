// What the token store keeps and when it asks the user to sign in again, against a secret store
// in memory and a token endpoint that records what it is sent.
#include "signin/TokenStore.h"

#include <gtest/gtest.h>

#include <map>

namespace {

class MemoryStore : public SecretStore {
public:
    std::map<std::u16string, std::string> entries;
    std::optional<std::string> Read(const std::u16string& entry) override {
        const auto found = entries.find(entry);
        return found == entries.end() ? std::nullopt : std::optional<std::string>(found->second);
    }
    void Write(const std::u16string& entry, const std::string& secret) override { entries[entry] = secret; }
    void Erase(const std::u16string& entry) override { entries.erase(entry); }
    std::u16string Where() const override { return u"memory"; }
};

OAuthClient Client(std::string tokenUrl, std::string clientId, std::string scope) {
    OAuthClient client;
    client.Provider.TokenUrl = std::move(tokenUrl);
    client.Provider.Scope = std::move(scope);
    client.ClientId = std::move(clientId);
    return client;
}

} // namespace

// The refresh token goes only to the address, for the client and scope, it was issued for; an
// entry without that binding (older versions kept the bare token) is not sent anywhere.
TEST(TokenStore, SendsTheRefreshTokenOnlyWhereItWasIssuedFor) {
    const OAuthClient issued = Client("https://idp.test/token", "app", "pop");
    const struct {
        const char* name;
        std::optional<std::string> stored;
        OAuthClient now;
        SignInCause cause; // None: refreshed at the issuing address
    } cases[] = {
        {"same", StoredTokenRecord(issued, "R1"), issued, SignInCause::None},
        {"other address", StoredTokenRecord(issued, "R1"), Client("https://evil.test/token", "app", "pop"),
         SignInCause::OtherIssuer},
        {"other client", StoredTokenRecord(issued, "R1"), Client("https://idp.test/token", "x", "pop"),
         SignInCause::OtherIssuer},
        {"other scope", StoredTokenRecord(issued, "R1"), Client("https://idp.test/token", "app", "imap"),
         SignInCause::OtherScope},
        {"older version", "R1", issued, SignInCause::Unbound},
        {"not a record", R"({"refresh_token":"R1"})", issued, SignInCause::Unbound},
        {"nothing", std::nullopt, issued, SignInCause::NoToken},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto secrets = std::make_unique<MemoryStore>();
        MemoryStore* memory = secrets.get();
        if (c.stored)
            memory->entries[u"e"] = *c.stored;
        std::vector<std::string> sent;
        TokenStore tokens(
            c.now, std::move(secrets), u"e", [&](const std::string& url, const std::string& body) {
                sent.push_back(url + " " + body);
                return HttpsReply{200, R"({"access_token":"A","refresh_token":"R2","token_type":"Bearer"})"};
            });
        if (c.cause == SignInCause::None) {
            EXPECT_EQ(tokens.AccessToken(), "A");
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0],
                      "https://idp.test/token grant_type=refresh_token&refresh_token=R1&client_id=app");
            EXPECT_EQ(memory->entries[u"e"], StoredTokenRecord(issued, "R2")) << "the rotated one, bound";
            continue;
        }
        EXPECT_THROW(tokens.AccessToken(), ESignInNeeded);
        EXPECT_THROW(tokens.AccessToken(), ESignInNeeded);
        EXPECT_TRUE(sent.empty());
        EXPECT_EQ(tokens.Cause(), c.cause);
        EXPECT_EQ(memory->entries.count(u"e"), c.stored ? 1u : 0u) << "kept for the client it belongs to";
        // A new sign-in binds the new token to what it was issued for.
        tokens.ExchangeCode("code", "http://127.0.0.1:1/", "verifier");
        EXPECT_FALSE(tokens.SignInNeeded());
        EXPECT_EQ(memory->entries[u"e"], StoredTokenRecord(c.now, "R2"));
        EXPECT_EQ(sent.size(), 1u);
    }
}

// A rotated refresh token is kept even when the access token beside it cannot be used.
TEST(TokenStore, KeepsTheRotatedTokenOfAnUnusableAnswer) {
    const OAuthClient client = Client("https://idp.test/token", "app", "pop");
    auto secrets = std::make_unique<MemoryStore>();
    MemoryStore* memory = secrets.get();
    memory->entries[u"e"] = StoredTokenRecord(client, "R1");
    TokenStore tokens(client, std::move(secrets), u"e", [](const std::string&, const std::string&) {
        return HttpsReply{200, R"({"access_token":"A","refresh_token":"R2","token_type":"MAC"})"};
    });
    EXPECT_THROW(tokens.AccessToken(), ETokenEndpointError);
    EXPECT_EQ(memory->entries[u"e"], StoredTokenRecord(client, "R2"));
    EXPECT_FALSE(tokens.SignInNeeded());
}

// The sign-in against the real authorization server, signed in by the test browser: the code
// exchange, refreshes with rotation, and the provider's refusals.
#include <gtest/gtest.h>

#include <thread>

#include "signin/OAuthSignIn.h"
#include "signin/Pkce.h"
#include "tests/support/OAuthRig.h"

namespace {

const RedirectPages kPages{"<p>signed in</p>", "<p>failed: "};
const std::u16string kEntry = u"Brevgluggen:u@127.0.0.1";

struct Rig {
    explicit Rig(int accessTokenSeconds = 3600) : server(accessTokenSeconds) {}
    TemporaryFolder folder{"bg-signin"};
    AuthorizationServer server;
    std::filesystem::path browserResult = folder.Path() / "browser";
    std::unique_ptr<TokenStore> Tokens() {
        return std::make_unique<TokenStore>(server.Client(), OpenSecretFile(folder.Path().u16string()),
                                            kEntry);
    }
    std::optional<std::string> Stored() { return OpenSecretFile(folder.Path().u16string())->Read(kEntry); }
};

OAuthSignIn::State SignIn(Rig& rig, TokenStore& tokens, bool cancel = false) {
    OAuthSignIn signIn(tokens.Client(), [&](const std::string& url) {
        OpenInTestBrowser(url, rig.browserResult, cancel);
        return true;
    });
    signIn.Start("u", kPages);
    for (int i = 0; i < 600 && signIn.Poll() == OAuthSignIn::State::Waiting; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (signIn.Current() == OAuthSignIn::State::Exchanging) {
        try {
            tokens.ExchangeCode(signIn.Grant().Code, signIn.Grant().RedirectUri, signIn.Grant().Verifier);
            signIn.Exchanged(std::nullopt);
        } catch (const Exception& failure) {
            signIn.Exchanged(failure.Message());
        }
    }
    EXPECT_EQ(AwaitTestBrowser(rig.browserResult).rfind("done", 0), 0u)
        << AwaitTestBrowser(rig.browserResult);
    if (cancel) {
        EXPECT_EQ(signIn.ErrorCode(), "access_denied");
    }
    return signIn.Current();
}

} // namespace

class SignInRealServer : public testing::Test {
protected:
    void SetUp() override {
        if (!AuthorizationServer::Available())
            GTEST_SKIP() << "node, npm or chromium missing";
    }
};

TEST_F(SignInRealServer, SignsInThenRefreshesWithRotationUntilTheGrantIsGone) {
    // Access tokens that expire within the refresh margin: every check refreshes first.
    Rig rig(30);
    auto tokens = rig.Tokens();
    ASSERT_EQ(SignIn(rig, *tokens), OAuthSignIn::State::SignedIn);
    EXPECT_EQ(rig.server.Grants("authorization_code"), 1);
    const std::string first = rig.Stored().value();

    EXPECT_FALSE(tokens->AccessToken().empty());
    const std::string second = rig.Stored().value();
    EXPECT_NE(second, first) << "the rotated refresh token is stored at once";
    // A new program run reads the stored token.
    EXPECT_FALSE(rig.Tokens()->AccessToken().empty());
    EXPECT_EQ(rig.server.Grants("refresh_token"), 2);

    // The consumed token presented again: the provider revokes the grant; no further request.
    OpenSecretFile(rig.folder.Path().u16string())
        ->Write(kEntry, StoredTokenRecord(rig.server.Client(), second));
    auto stale = rig.Tokens();
    EXPECT_THROW(stale->AccessToken(), ETokenRefused);
    EXPECT_EQ(stale->Cause(), SignInCause::Refused);
    EXPECT_EQ(stale->Refusal().rfind(u"invalid_grant: ", 0), 0u);
    EXPECT_THROW(stale->AccessToken(), ESignInNeeded);
    EXPECT_EQ(rig.server.Grants("refresh_token", "invalid_grant"), 1);
}

// A client the provider does not know: refused once, then nothing is asked until a new sign-in.
TEST_F(SignInRealServer, AnUnknownClientIsRefusedOnceThenSignInAgain) {
    Rig rig;
    OAuthClient unknown = rig.server.Client();
    unknown.ClientId = "nobody";
    auto secrets = OpenSecretFile(rig.folder.Path().u16string());
    secrets->Write(kEntry, StoredTokenRecord(unknown, "whatever"));
    TokenStore tokens(unknown, std::move(secrets), kEntry);
    try {
        tokens.AccessToken();
        ADD_FAILURE() << "an unknown client was answered";
    } catch (const ETokenRefused& refused) {
        EXPECT_EQ(refused.ErrorCode(), "invalid_client");
    }
    EXPECT_EQ(tokens.Cause(), SignInCause::Refused);
    EXPECT_THROW(tokens.AccessToken(), ESignInNeeded);
    EXPECT_EQ(rig.server.Grants("refresh_token", "invalid_client"), 1);
}

TEST_F(SignInRealServer, RefusedRedirectsAndReplayedCodes) {
    Rig rig;
    auto tokens = rig.Tokens();
    EXPECT_EQ(SignIn(rig, *tokens, true), OAuthSignIn::State::Failed);
    EXPECT_FALSE(rig.Stored());

    // The same code twice: the second exchange is refused and leaves the first tokens alone.
    const PkcePair pair = NewPkcePair();
    RedirectListener listener(pair.State, kPages);
    OpenInTestBrowser(
        AuthorizeUrl(rig.server.Client(), listener.RedirectUri(), pair.State, pair.Challenge, "u"),
        rig.folder.Path() / "browser2");
    std::optional<RedirectOutcome> outcome;
    for (int i = 0; i < 600 && !outcome; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(50)))
        outcome = listener.Poll();
    ASSERT_TRUE(outcome && !outcome->Code.empty());
    tokens->ExchangeCode(outcome->Code, listener.RedirectUri(), pair.Verifier);
    const std::string stored = rig.Stored().value();
    try {
        tokens->ExchangeCode(outcome->Code, listener.RedirectUri(), pair.Verifier);
        ADD_FAILURE() << "a replayed code was accepted";
    } catch (const ETokenRefused& refused) {
        EXPECT_EQ(refused.ErrorCode(), "invalid_grant");
    }
    EXPECT_EQ(rig.Stored(), stored);
}

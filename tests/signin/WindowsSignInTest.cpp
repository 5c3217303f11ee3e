// The Windows halves of the sign-in under Wine: the whole sign-in against the real authorization server
// and a Dovecot that takes only its tokens (both run by the Linux helper, which also drives the test
// browser), the token endpoint's POST through WinHTTP against a faulty HTTPS endpoint (the scripted server
// over TLS in the helper, with the certificate for 127.0.0.1 from the authority this process trusts), the
// refresh token's round trip through the Credential Manager, the proof key's digest and random source, and
// the owner-only file.

#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "base/Base64.h"
#include "pop3/Pop3Client.h"
#include "signin/HttpsPost.h"
#include "signin/OAuthSignIn.h"
#include "signin/OwnerOnlyFile.h"
#include "signin/Pkce.h"
#include "signin/SecretStore.h"
#include "tests/support/Pop3CheckRun.h"
#include "tests/support/Pop3RealServers.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestCertificates.h"

namespace {

using namespace std::chrono_literals;

constexpr size_t AnswerCap = 64 * 1024;

// The reply handed to the helper in a file (the helper reads it as it starts).
struct ReplyFile {
    explicit ReplyFile(const std::optional<std::string>& reply) {
        if (!reply)
            return;
        const std::filesystem::path file = folder.Path() / "reply";
        std::ofstream(file, std::ios::binary) << *reply;
        flag = "reply=" + LinuxPathOfWindowsPath(file);
    }
    TemporaryFolder folder{"bg-https-reply"};
    std::string flag;
};

// The scripted server over TLS in the Linux helper: every connection gets, after the request's first
// line, `reply` as it stands (one byte every 100 ms when dripping), or silence when there is none.
class ScriptedHttpsEndpoint : private ReplyFile, public RealPop3Server {
public:
    explicit ScriptedHttpsEndpoint(const std::optional<std::string>& reply, bool drip = false)
        : ReplyFile(reply), RealPop3Server({"https", Certificates(), flag, drip ? "drip" : ""}) {}
    std::string UserName() const override { return {}; }
    std::string Url(const std::string& host = "127.0.0.1") const {
        return "https://" + host + ":" + std::to_string(Port()) + "/token";
    }

private:
    static std::string Certificates() {
        return "certificates=" + LinuxPathOfWindowsPath(TestCertificates::Get().authority.parent_path());
    }
};

// The sign-in tests' authorization server and a Dovecot with TLS that takes only its bearer tokens, in
// the Linux helper; Browse opens an address in the test browser there, as the desktop's opener would.
class SignInServers : public RealPop3Server {
public:
    SignInServers()
        : RealPop3Server({"oauth", "certificates=" + LinuxPathOfWindowsPath(
                                                         TestCertificates::Get().authority.parent_path())}) {}
    static bool Available() {
        if (!DovecotServer::Available())
            return false;
        const TemporaryFolder folder("bg-helper-probe");
        return RunRealPop3ServerHelper({"oauth-probe"}, folder.Path() / "ready") == "available";
    }
    std::string UserName() const override { return "u"; }
    OAuthClient Client() const {
        const std::string base = "https://127.0.0.1:" + std::to_string(HelperExtraPort());
        OAuthClient client;
        client.Provider.AuthorizeUrl = base + "/auth";
        client.Provider.TokenUrl = base + "/token";
        client.Provider.Scope = "pop3";
        client.ClientId = "brevgluggen-test";
        return client;
    }
    void Browse(const std::string& url) { Command("browse " + url); }
    // One check over implicit TLS, signed in with the access token: the count.
    std::optional<int32_t> Check(const std::string& accessToken) const {
        TIdPOP3 client;
        AimClient(client, HelperTlsPort());
        client.SetUseTLS(utUseImplicitTLS);
        client.SetUsername(u"u");
        client.SetAuthType(patSASL);
        client.SetBearerToken(accessToken);
        const Pop3CheckOutcome outcome = RunCheck(client);
        EXPECT_FALSE(outcome.Failed()) << outcome.Describe();
        return outcome.count;
    }
};

TEST(SignInFromWindows, SignsInInTheBrowserChecksAndRefreshesFromTheCredentialManager) {
    if (!SignInServers::Available())
        GTEST_SKIP() << "no Linux helper, Dovecot, node or chromium for the sign-in";
    SignInServers servers;
    servers.FillMailbox(3);
    const std::u16string entry = TokenEntryName(u"127.0.0.1", u"u");
    OpenSystemSecretStore()->Erase(entry);
    {
        TokenStore tokens(servers.Client(), OpenSystemSecretStore(), entry);
        OAuthSignIn signIn(tokens.Client(), [&](const std::string& url) {
            servers.Browse(url);
            return true;
        });
        signIn.Start("u", {"<p>signed in</p>", "<p>failed: "});
        for (int i = 0; i < 600 && signIn.Poll() == OAuthSignIn::State::Waiting; ++i)
            std::this_thread::sleep_for(50ms);
        ASSERT_EQ(signIn.Current(), OAuthSignIn::State::Exchanging) << TextToUtf8(signIn.Reason());
        tokens.ExchangeCode(signIn.Grant().Code, signIn.Grant().RedirectUri, signIn.Grant().Verifier);
        signIn.Exchanged(std::nullopt);
        ASSERT_EQ(signIn.Current(), OAuthSignIn::State::SignedIn) << TextToUtf8(signIn.Reason());
        EXPECT_EQ(servers.Check(tokens.AccessToken()), 3);
    }
    // The next run of the program: the refresh token from the Credential Manager, refreshed over WinHTTP.
    TokenStore nextRun(servers.Client(), OpenSystemSecretStore(), entry);
    EXPECT_EQ(servers.Check(nextRun.AccessToken()), 3);
    nextRun.SignOut();
    EXPECT_EQ(OpenSystemSecretStore()->Read(entry), std::nullopt);
}

std::string HttpAnswer(const std::string& status, const std::string& headers, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\n" + headers + "Connection: close\r\n\r\n" + body;
}

std::string Sized(const std::string& body) {
    return "Content-Length: " + std::to_string(body.size()) + "\r\n";
}

class WinHttpTokenEndpoint : public ::testing::Test {
protected:
    void SetUp() override {
        if (!DovecotServer::Available()) // the helper is there and may run servers
            GTEST_SKIP() << "no Linux helper for real servers ($BG_REAL_POP3_SERVER)";
        TestCertificates::Get();
    }
};

TEST_F(WinHttpTokenEndpoint, GivesStatusAndBodyOfEveryAnswerWithinTheCap) {
    const std::string json = R"({"access_token":"at","expires_in":3600})";
    const std::string error = R"({"error":"invalid_grant"})";
    struct Case {
        const char* name;
        std::string reply;
        long status;
        std::string body;
    };
    for (const Case& c : {
             Case{"token", HttpAnswer("200 OK", Sized(json), json), 200, json},
             Case{"refused grant", HttpAnswer("400 Bad Request", Sized(error), error), 400, error},
             Case{"server fault", HttpAnswer("500 Internal Server Error", Sized("broken"), "broken"), 500,
                  "broken"},
             Case{"no length, up to the close", HttpAnswer("200 OK", "", json), 200, json},
             Case{"exactly the cap", HttpAnswer("200 OK", "", std::string(AnswerCap, 'x')), 200,
                  std::string(AnswerCap, 'x')},
         }) {
        SCOPED_TRACE(c.name);
        const ScriptedHttpsEndpoint endpoint(c.reply);
        const HttpsReply reply =
            HttpsPostForm(endpoint.Url(), "grant_type=refresh_token&refresh_token=r", 10000, AnswerCap);
        EXPECT_EQ(reply.Status, c.status);
        EXPECT_EQ(reply.Body, c.body);
    }
}

TEST_F(WinHttpTokenEndpoint, RaisesForWhatIsNoBoundedTrustedAnswer) {
    const std::string oversized(AnswerCap + 1, 'x');
    struct Case {
        const char* name;
        std::optional<std::string> reply;
        std::string host;
        std::u16string fault; // part of the message
        bool drip = false;
    };
    for (const Case& c : {
             Case{"oversized, declared", HttpAnswer("200 OK", Sized(oversized), oversized), "127.0.0.1",
                  u"too large."},
             Case{"oversized, undeclared", HttpAnswer("200 OK", "", oversized), "127.0.0.1", u"too large."},
             Case{"garbage", std::string("\x01\x02 no HTTP here\r\n\r\n"), "127.0.0.1", u"not HTTP"},
             Case{"silent", std::nullopt, "127.0.0.1", u"did not answer in time."},
             Case{"dripping slower than the time-out in all", HttpAnswer("200 OK", Sized("{}"), "{}"),
                  "127.0.0.1", u"did not answer in time.", true},
             Case{"certificate for another host", HttpAnswer("200 OK", Sized("{}"), "{}"), "localhost",
                  u"certificate"},
         }) {
        SCOPED_TRACE(c.name);
        const ScriptedHttpsEndpoint endpoint(c.reply, c.drip);
        const auto started = std::chrono::steady_clock::now();
        try {
            HttpsPostForm(endpoint.Url(c.host), "grant_type=refresh_token&refresh_token=r", 2000, AnswerCap);
            ADD_FAILURE() << "no exception";
        } catch (const ETokenEndpointError& error) {
            EXPECT_NE(error.Message().find(c.fault), std::u16string::npos) << error.what();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - started, 4s) << "not bounded by the time-out";
    }
}

TEST(WinHttpAddress, RefusesAddressesThatAreNotHttps) {
    for (const char* url : {"http://127.0.0.1:1/token", "", "https://", "not an address"}) {
        SCOPED_TRACE(url);
        EXPECT_THROW(HttpsPostForm(url, "a=b", 1000, AnswerCap), ETokenEndpointError);
    }
}

TEST(ProofKeyCrypto, DigestsAndDrawsFromTheSystem) {
    // The example of RFC 7636, appendix B.
    EXPECT_EQ(Base64UrlEncode(Sha256Digest("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk")),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    EXPECT_EQ(SystemRandomBytes(32).size(), 32u);
    EXPECT_NE(SystemRandomBytes(16), SystemRandomBytes(16));
}

// Whether the file's DACL grants access to the current user and to nobody else but the system (which
// Wine lists beside the user).
bool GrantsTheUserAlone(const std::filesystem::path& file) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD size = sizeof user;
    GetTokenInformation(token, TokenUser, user, size, &size);
    CloseHandle(token);
    bool userGranted = false, othersGranted = false;
    for (DWORD index = 0; dacl && index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(dacl, index, &ace) || static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
        if (EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid))
            userGranted = true;
        else if (!IsWellKnownSid(sid, WinLocalSystemSid))
            othersGranted = true;
    }
    LocalFree(descriptor);
    return userGranted && !othersGranted;
}

TEST(OwnerOnlyFile, ReplacesTheFileWithOneForTheUserAlone) {
    const TemporaryFolder folder("bg-owner-only");
    const std::filesystem::path file = folder.Path() / "brevgluggen.token";
    const std::filesystem::path leftBehind = file.wstring() + L".new";
    std::ofstream(file) << "old";
    std::ofstream(leftBehind) << "left behind";
    ReplaceOwnerOnlyFile(file.u16string(), "new secret");
    EXPECT_EQ(ReadOwnerOnlyFile(file.u16string()), "new secret");
    EXPECT_TRUE(GrantsTheUserAlone(file));
    EXPECT_FALSE(std::filesystem::exists(leftBehind));
    EXPECT_THROW(ReplaceOwnerOnlyFile((folder.Path() / "missing" / "file").u16string(), "x"),
                 ESecretStoreError);
    RemoveOwnerOnlyFile(file.u16string());
    EXPECT_EQ(ReadOwnerOnlyFile(file.u16string()), std::nullopt);
}

// A file left with the folder's wide rights is narrowed to the user before it is read; a link at
// its place is refused, not followed.
TEST(OwnerOnlyFile, NarrowsAWideFileAndRefusesALinkBeforeReading) {
    const TemporaryFolder folder("bg-owner-only-read");
    const std::filesystem::path file = folder.Path() / "brevgluggen.token";
    std::ofstream(file) << "secret";
    EXPECT_EQ(ReadOwnerOnlyFile(file.u16string()), "secret");
    EXPECT_TRUE(GrantsTheUserAlone(file));
    // Wine reports a link made here as made, but none is there to open.
    const std::filesystem::path link = folder.Path() / "link.token";
    if (CreateSymbolicLinkW(link.c_str(), file.c_str(), 0) &&
        GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) {
        EXPECT_THROW(ReadOwnerOnlyFile(link.u16string()), ESecretStoreError);
    }
}

TEST(CredentialManager, KeepsReplacesAndErasesTheToken) {
    const std::unique_ptr<SecretStore> store = OpenSystemSecretStore();
    ASSERT_TRUE(store);
    const std::u16string entry = u"Brevgluggen test/127.0.0.1/u\u00e5";
    const std::u16string other = entry + u"2";
    store->Erase(entry); // a missing entry is no fault
    EXPECT_EQ(store->Read(entry), std::nullopt);

    const std::string token("refresh\0token \xff", 15);
    store->Write(entry, token);
    store->Write(other, "another");
    EXPECT_EQ(store->Read(entry), token);
    store->Write(entry, "rotated");
    EXPECT_EQ(store->Read(entry), "rotated");
    EXPECT_EQ(OpenSystemSecretStore()->Read(entry), "rotated") << "kept for the next run";

    store->Erase(entry);
    EXPECT_EQ(store->Read(entry), std::nullopt);
    EXPECT_EQ(store->Read(other), "another");
    store->Erase(other);

    // Longer than one credential holds (2560 bytes), then short again: no part of the long one is left.
    for (const size_t size : {6000, 5120, 7}) {
        SCOPED_TRACE(size);
        std::string longToken(size, 'L');
        longToken.back() = 'E';
        store->Write(entry, longToken);
        EXPECT_EQ(store->Read(entry), longToken);
    }
    store->Erase(entry);
    EXPECT_EQ(store->Read(entry), std::nullopt);
    EXPECT_EQ(store->Read(entry + u" (2)"), std::nullopt);
    EXPECT_THROW(store->Write(entry, std::string(128 * 1024, 't')), ESecretStoreError);
    EXPECT_FALSE(store->Where().empty());
}

} // namespace

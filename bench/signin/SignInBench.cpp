// The OAuth sign-in's costs, against private Dovecots (kept login processes, implicit TLS): one
// that validates signed bearer tokens itself, and one that asks the real authorization server of
// the sign-in tests about each token (introspection):
// - one check with a token beside one with the password, in process, at each Dovecot;
// - one check that must refresh its access token first;
// - the refresh grant through libcurl (as the program makes it) beside the curl command line.
// Each contender signs in once through the test browser for a grant of its own (refresh tokens
// rotate). Rounds are interleaved; prints medians and ratios; asserts nothing. Must run as root.
//
//     bench_signin [--rounds N] [--process-rounds M]

#include <cstdio>
#include <nlohmann/json.hpp>
#include <thread>

#include "base/Text.h"
#include "bench/pop3/BenchFigures.h"
#include "bench/pop3/ChildProcess.h"
#include "pop3/Pop3Client.h"
#include "signin/OAuthSignIn.h"
#include "signin/Pkce.h"
#include "tests/support/OAuthRig.h"
#include "tests/support/Pop3RealServers.h"
#include "tests/support/TestCertificates.h"

namespace {

using Clock = std::chrono::steady_clock;

// Signs in through the test browser: the refresh token of a new grant.
std::string NewGrant(const AuthorizationServer& server, const std::filesystem::path& folder) {
    const PkcePair pair = NewPkcePair();
    RedirectListener listener(pair.State, {"ok", "failed"});
    OpenInTestBrowser(AuthorizeUrl(server.Client(), listener.RedirectUri(), pair.State, pair.Challenge, "u"),
                      folder / ("browser-" + pair.State));
    std::optional<RedirectOutcome> outcome;
    for (int i = 0; i < 600 && !outcome; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(50)))
        outcome = listener.Poll();
    if (!outcome || outcome->Code.empty())
        Fail("the test browser did not sign in");
    const HttpsReply reply = HttpsPostForm(
        server.Client().Provider.TokenUrl,
        CodeGrantBody(server.Client(), outcome->Code, listener.RedirectUri(), pair.Verifier), 10000, 65536);
    return ReadTokenAnswer(reply.Status, reply.Body).RefreshToken;
}

void AimAtDovecot(TIdPOP3& client, const DovecotServer& server) {
    client.SetHost(u"127.0.0.1");
    client.SetUseTLS(utUseImplicitTLS);
    client.SetPort(server.TlsPort());
    client.SetUsername(Utf8ToText(server.UserName()));
}

double TimedCheck(TIdPOP3& client) {
    const auto start = Clock::now();
    client.ConnectAndLogIn();
    const int32_t count = client.QueryMessageCount();
    client.CloseSession(true);
    const double elapsed = MicrosecondsSince(start);
    RequireCount("check", count);
    return elapsed;
}

// A store for one grant, kept in a file of the bench's folder.
std::unique_ptr<TokenStore> StoreFor(const AuthorizationServer& server, const std::filesystem::path& folder,
                                     const std::string& refreshToken, const std::u16string& entry) {
    auto secrets = OpenSecretFile(folder.u16string());
    secrets->Write(entry, StoredTokenRecord(server.Client(), refreshToken));
    return std::make_unique<TokenStore>(server.Client(), std::move(secrets), entry);
}

void Run(const BenchSettings& settings) {
    TestCertificates::Get();
    TemporaryFolder folder("bg-bench-signin");
    AuthorizationServer authorization;
    DovecotServer dovecot(DovecotServer::Options{.keepLoginProcesses = true},
                          authorization.IntrospectionUrl());
    dovecot.FillMailbox(kBenchMessages);
    DovecotServer validating(DovecotServer::Options{.keepLoginProcesses = true, .signedTokens = true});
    validating.FillMailbox(kBenchMessages);

    auto checkTokens =
        StoreFor(authorization, folder.Path(), NewGrant(authorization, folder.Path()), u"check");
    auto refreshTokens =
        StoreFor(authorization, folder.Path(), NewGrant(authorization, folder.Path()), u"refresh");
    std::string libcurlToken = NewGrant(authorization, folder.Path());
    std::string curlToolToken = NewGrant(authorization, folder.Path());
    const OAuthClient client = authorization.Client();

    TIdPOP3 password, signedToken, token, refreshing;
    for (TIdPOP3* pop3 : {&token, &refreshing})
        AimAtDovecot(*pop3, dovecot);
    for (TIdPOP3* pop3 : {&password, &signedToken})
        AimAtDovecot(*pop3, validating);
    password.SetPassword(Utf8ToText(validating.Password()));
    signedToken.SetAuthType(patSASL);
    signedToken.SetBearerToken(DovecotServer::SignedToken(validating.UserName()));
    token.SetAuthType(patSASL);
    token.SetBearerToken(checkTokens->AccessToken());
    refreshing.SetAuthType(patSASL);

    // What the server adds to a token check: its introspection request to the authorization server.
    const std::string introspectionBody = "token=" + FormEncode(checkTokens->AccessToken());
    const auto introspection = [&] {
        const auto start = Clock::now();
        HttpsPostForm(authorization.IntrospectionUrl(), introspectionBody, 10000, 65536);
        return MicrosecondsSince(start);
    };
    std::vector<Series> checks = {{"password check over TLS", {}},
                                  {"token check, validated by the server", {}},
                                  {"token check, introspected", {}},
                                  {"the server's introspection alone", {}}};
    TimeRounds({[&] { return TimedCheck(password); }, [&] { return TimedCheck(signedToken); },
                [&] { return TimedCheck(token); }, introspection},
               checks, settings.rounds, kWarmUpRounds);
    std::printf("\nOne check in process, implicit TLS, %d rounds interleaved\n", settings.rounds);
    PrintTable(checks, Median(checks[0]), "/ password");
    std::printf("  token / password, the server validates the signed token itself: %.2fx (aim: at most "
                "1.10x)\n",
                Median(checks[1]) / Median(checks[0]));
    std::printf("  token / password, the server introspects the token: %.2fx, %.0f us more: one request to\n"
                "  the authorization server per login (the last row times one on a fresh connection)\n",
                Median(checks[2]) / Median(checks[0]), Median(checks[2]) - Median(checks[0]));

    const auto refreshAndCheck = [&] {
        const auto start = Clock::now();
        refreshTokens->Rejected(true); // forgets the access token: the next one is refreshed
        refreshing.SetBearerToken(refreshTokens->AccessToken());
        TimedCheck(refreshing);
        return MicrosecondsSince(start);
    };
    const auto libcurlRefresh = [&] {
        const auto start = Clock::now();
        const HttpsReply reply =
            HttpsPostForm(client.Provider.TokenUrl, RefreshGrantBody(client, libcurlToken), 10000, 65536);
        libcurlToken = ReadTokenAnswer(reply.Status, reply.Body).RefreshToken;
        return MicrosecondsSince(start);
    };
    const auto curlToolRefresh = [&] {
        const ProcessRun run =
            RunProcess({"curl", "-sS", "--cacert", TestCertificates::Get().authority.string(), "--data",
                        RefreshGrantBody(client, curlToolToken), client.Provider.TokenUrl},
                       {"PATH=/usr/bin:/bin"}, true);
        curlToolToken = nlohmann::json::parse(run.output).at("refresh_token");
        return run.elapsedUs;
    };
    std::vector<Series> refreshes = {{"refresh, then check", {}},
                                     {"refresh grant, libcurl in process", {}},
                                     {"refresh grant, curl command line", {}}};
    TimeRounds({refreshAndCheck, libcurlRefresh, curlToolRefresh}, refreshes, settings.processRounds, 5);
    std::printf("\nToken refreshes (rotating), %d rounds interleaved\n", settings.processRounds);
    PrintTable(refreshes, Median(refreshes[2]), "/ curl");
    std::printf("  refresh, then check / introspected token check: %.2fx\n",
                Median(refreshes[0]) / Median(checks[2]));
    std::printf("  libcurl / curl command line: %.2fx\n", Median(refreshes[1]) / Median(refreshes[2]));
}

} // namespace

int main(int argc, char** argv) {
    try {
        BenchSettings settings = argc > 1 ? ParseBenchArguments(argc, argv) : BenchSettings{300, 100};
        if (!DovecotServer::Available() || !AuthorizationServer::Available()) {
            std::printf("bench_signin: needs root, Dovecot, node and chromium\n");
            return 0;
        }
        Run(settings);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_signin: %s\n", error.what());
        return 1;
    }
}

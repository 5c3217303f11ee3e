#include "bench/pop3/TlsBench.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/pop3/BenchFigures.h"
#include "bench/pop3/RawTlsCheck.h"
#include "pop3/Pop3Client.h"
#include "tests/support/Pop3RealServers.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestCertificates.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double TimedRawTlsCheck(RawTlsChecker& raw, const DovecotServer& server, bool resume) {
    const auto start = Clock::now();
    const int32_t count = raw.Check(server.TlsPort(), server.UserName(), server.Password(), resume);
    const double elapsed = MicrosecondsSince(start);
    RequireCount("raw OpenSSL", count);
    if (raw.LastReused() != resume)
        Fail(std::string("raw OpenSSL: the handshake was ") + (resume ? "not resumed" : "resumed"));
    return elapsed;
}

// A full handshake each time (the kept session forgotten), or the session of the check before.
double TimedTlsClientCheck(TIdPOP3& client, bool resume) {
    if (!resume)
        client.ForgetTlsSession();
    const double elapsed = TimedClientCheck(client);
    if (client.TlsSessionReused() != resume)
        Fail(std::string("TIdPOP3: the handshake was ") + (resume ? "not resumed" : "resumed"));
    return elapsed;
}

// The peers' configuration files for POP3S: the same server, user and password, the test CA.
void WriteTlsPeerConfigs(const DovecotServer& server, const fs::path& folder, const std::string& ca) {
    const std::string port = std::to_string(server.TlsPort());
    const std::string user = server.UserName(), password = server.Password();

    std::string fetchmail = "set no syslog\n";
    fetchmail += "poll 127.0.0.1 service " + port + " protocol pop3 auth password\n";
    fetchmail += "  user \"" + user + "\" password \"" + password + "\" is root here ssl sslproto 'tls1.2+'" +
                 " sslcertck sslcertfile \"" + ca + "\"\n";
    WritePrivateFile(folder / "fetchmailrc", fetchmail);

    std::string mpop = "account default\nhost 127.0.0.1\nport " + port + "\n";
    mpop += "user " + user + "\npassword " + password + "\nauth user\n";
    mpop += "tls on\ntls_starttls off\ntls_trust_file " + ca + "\n";
    mpop += "uidls_file " + (folder / "mpop-uidls").string() + "\ndelivery mbox /dev/null\n";
    WritePrivateFile(folder / "mpoprc", mpop);
}

std::vector<ProcessPeer> TlsProcessPeers(const DovecotServer& server, const fs::path& folder) {
    const std::string ca = TestCertificates::Get().authority.string();
    WriteTlsPeerConfigs(server, folder, ca);
    const std::string port = std::to_string(server.TlsPort());
    const std::string url =
        "pop3s://" + server.UserName() + ":" + server.Password() + "@127.0.0.1:" + port + "/";
    const std::string fetchmailrc = (folder / "fetchmailrc").string();
    const std::string mpoprc = (folder / "mpoprc").string();
    return {
        {"pop3_count --tls (ours)",
         {BG_POP3_COUNT_PROGRAM, "--tls", "127.0.0.1", port, server.UserName(), server.Password()}},
        {"curl -I -X STAT pop3s://", {"curl", "-s", "-I", "-X", "STAT", "--cacert", ca, url}, {"-v"}},
        {"fetchmail --check (ssl)", {"fetchmail", "--check", "-f", fetchmailrc}},
        {"mpop -s (tls on)", {"mpop", "-s", "-C", mpoprc}},
        {"mpop -s --pipelining=off (tls on)", {"mpop", "-s", "-C", mpoprc, "--pipelining=off"}},
    };
}

} // namespace

void RunTlsInProcess(const DovecotServer& server, int rounds) {
    TestCertificates::Get(); // trusted before the first context is built
    RawTlsChecker raw;
    TIdPOP3 full, resumed, plain;
    for (TIdPOP3* client : {&full, &resumed}) {
        ConfigureClient(*client, server, server.TlsPort());
        client->SetUseTLS(utUseImplicitTLS);
    }
    ConfigureClient(plain, server, server.Port());
    // A first check each, so that the resumed rows have a session to offer.
    TimedClientCheck(resumed);
    TimedRawTlsCheck(raw, server, false);
    std::vector<Series> table{{"raw OpenSSL, full handshake (floor)", {}},
                              {"TIdPOP3 implicit TLS, full handshake", {}},
                              {"raw OpenSSL, resumed (floor)", {}},
                              {"TIdPOP3 implicit TLS, resumed", {}},
                              {"TIdPOP3 plain, for scale", {}}};
    TimeRounds({[&] { return TimedRawTlsCheck(raw, server, false); },
                [&] { return TimedTlsClientCheck(full, false); },
                [&] { return TimedRawTlsCheck(raw, server, true); },
                [&] { return TimedTlsClientCheck(resumed, true); }, [&] { return TimedClientCheck(plain); }},
               table, rounds, kWarmUpRounds);
    std::printf("\nOne check over implicit TLS in process, connect to QUIT, %d rounds interleaved\n", rounds);
    PrintTable(table, Median(table[0]), "/ full floor");
    std::printf("  TIdPOP3 / floor, full handshake: %.2fx (aim: at most 1.10x)\n",
                Median(table[1]) / Median(table[0]));
    std::printf("  TIdPOP3 / floor, resumed:        %.2fx (aim: at most 1.10x)\n",
                Median(table[3]) / Median(table[2]));
    std::printf("  TIdPOP3 resumed / full:          %.2fx\n", Median(table[3]) / Median(table[1]));
}

void RunTlsWholeProcess(const DovecotServer& server, int rounds) {
    const TemporaryFolder folder("bg-pop3bench-tls");
    const std::vector<std::string> environment =
        PeerEnvironment(folder.Path(), {std::string("SSL_CERT_FILE=") + std::getenv("SSL_CERT_FILE"),
                                        std::string("SSL_CERT_DIR=") + std::getenv("SSL_CERT_DIR")});
    const std::vector<ProcessPeer> peers =
        WorkingPeers(TlsProcessPeers(server, folder.Path()), BG_POP3_COUNT_PROGRAM, environment);
    PrintWholeProcessFigures(TimeProcesses(peers, environment, rounds),
                             "One check over POP3S as a whole process", rounds);
}

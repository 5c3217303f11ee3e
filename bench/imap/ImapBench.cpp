// One unseen count of INBOX (connect to LOGOUT: greeting, LOGIN, STATUS INBOX (UNSEEN), LOGOUT)
// against a private Dovecot IMAP with kept login processes, in one run:
// - in process: ImapClient beside the same commands on a raw socket and, over TLS from the first
//   byte, beside raw OpenSSL calls (the floors), with a full handshake each time and offering the
//   previous check's TLS session, as the client does;
// - as a whole process: imap_count beside curl, fetchmail -c and Python's imaplib, plain and
//   over TLS.
// Rounds are interleaved so that drift in the machine's load touches every contender alike.
// Prints medians and ratios; asserts nothing. Must run as root (the server switches users).
//
//     bench_imap [--rounds N] [--process-rounds M]

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/Text.h"
#include "bench/imap/RawImapCheck.h"
#include "bench/pop3/BenchFigures.h"
#include "bench/pop3/RawTlsCheck.h"
#include "imap/ImapClient.h"
#include "tests/support/Pop3RealServers.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestCertificates.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// ---- In process ----

double TimedRawCheck(const DovecotServer& server) {
    const auto start = Clock::now();
    RawPop3Session session(server.Port());
    const int32_t count = RawImapUnseenCount(session, server.UserName(), server.Password());
    const double elapsed = MicrosecondsSince(start);
    RequireCount("raw sockets", count);
    return elapsed;
}

double TimedRawTlsCheck(RawTlsChecker& raw, const DovecotServer& server, bool resume) {
    const auto start = Clock::now();
    const int32_t count = raw.CheckWith(server.TlsPort(), resume, [&](TlsLines& lines) {
        return RawImapUnseenCount(lines, server.UserName(), server.Password());
    });
    const double elapsed = MicrosecondsSince(start);
    RequireCount("raw OpenSSL", count);
    if (raw.LastReused() != resume)
        Fail(std::string("raw OpenSSL: the handshake was ") + (resume ? "not resumed" : "resumed"));
    return elapsed;
}

// One check as the resident program runs it on its one long-lived client.
double TimedClientCheck(ImapClient& client) {
    const auto start = Clock::now();
    client.ConnectAndLogIn();
    const int32_t count = client.QueryUnseenCount();
    client.CloseSession();
    const double elapsed = MicrosecondsSince(start);
    RequireCount("ImapClient", count);
    return elapsed;
}

// A full handshake each time (the kept session forgotten), or the session of the check before.
double TimedTlsClientCheck(ImapClient& client, bool resume) {
    if (!resume)
        client.ForgetTlsSession();
    const double elapsed = TimedClientCheck(client);
    if (client.TlsSessionReused() != resume)
        Fail(std::string("ImapClient: the handshake was ") + (resume ? "not resumed" : "resumed"));
    return elapsed;
}

void Configure(ImapClient& client, const DovecotServer& server, bool tls) {
    client.SetHost(u"127.0.0.1");
    client.SetUseTLS(tls ? utUseImplicitTLS : utNoTLSSupport);
    client.SetPort(tls ? server.TlsPort() : server.Port());
    client.SetUsername(Utf8ToText(server.UserName()));
    client.SetPassword(Utf8ToText(server.Password()));
    client.SetConnectTimeout(5000);
    client.SetReadTimeout(5000);
}

void RunInProcess(const DovecotServer& server, int rounds) {
    RawTlsChecker rawFull, rawResumed;
    ImapClient plain, full, resumed;
    Configure(plain, server, false);
    Configure(full, server, true);
    Configure(resumed, server, true);
    // A first check each, so that the resumed rows have a session to offer.
    TimedClientCheck(resumed);
    TimedRawTlsCheck(rawResumed, server, false);
    std::vector<Series> table{{"raw sockets (floor)", {}},
                              {"ImapClient plain", {}},
                              {"raw OpenSSL, full handshake (floor)", {}},
                              {"ImapClient implicit TLS, full handshake", {}},
                              {"raw OpenSSL, resumed (floor)", {}},
                              {"ImapClient implicit TLS, resumed", {}}};
    TimeRounds({[&] { return TimedRawCheck(server); }, [&] { return TimedClientCheck(plain); },
                [&] { return TimedRawTlsCheck(rawFull, server, false); },
                [&] { return TimedTlsClientCheck(full, false); },
                [&] { return TimedRawTlsCheck(rawResumed, server, true); },
                [&] { return TimedTlsClientCheck(resumed, true); }},
               table, rounds, kWarmUpRounds);
    std::printf("\nOne unseen count in process, connect to LOGOUT, %d rounds interleaved\n", rounds);
    PrintTable(table, Median(table[0]), "/ plain floor");
    std::printf("  ImapClient / floor, plain:           %.2fx (aim: at most 1.10x)\n",
                Median(table[1]) / Median(table[0]));
    std::printf("  ImapClient / floor, TLS full:        %.2fx (aim: at most 1.10x)\n",
                Median(table[3]) / Median(table[2]));
    std::printf("  ImapClient / floor, TLS resumed:     %.2fx (aim: at most 1.10x)\n",
                Median(table[5]) / Median(table[4]));
}

// ---- Whole process ----

std::vector<ProcessPeer> ProcessPeers(const DovecotServer& server, const fs::path& folder, bool tls) {
    const std::string ca = TestCertificates::Get().authority.string();
    const std::string port = std::to_string(tls ? server.TlsPort() : server.Port());
    const std::string user = server.UserName(), password = server.Password();
    // fetchmail runs LOGIN, EXAMINE, SEARCH UNSEEN and LOGOUT; sslproto '' keeps it from STARTTLS.
    WritePrivateFile(
        folder / "fetchmailrc",
        "set no syslog\npoll 127.0.0.1 service " + port + " protocol IMAP auth password\n  user \"" + user +
            "\" password \"" + password + "\" is root here " +
            (tls ? "ssl sslproto 'tls1.2+' sslcertck sslcertfile \"" + ca + "\"" : "sslproto ''") + "\n");
    const std::string url =
        (tls ? "imaps://" : "imap://") + user + ":" + password + "@127.0.0.1:" + port + "/";
    std::vector<std::string> curl = {"curl", "-sS", "-X", "STATUS INBOX (UNSEEN)", url};
    std::vector<std::string> imaplib = {"python3", BG_IMAP_BENCH_DIR "/imaplib_check.py", port, user,
                                        password};
    std::vector<std::string> ours = {BG_IMAP_COUNT_PROGRAM, "127.0.0.1", port, user, password};
    if (tls) {
        curl.insert(curl.begin() + 1, {"--cacert", ca});
        imaplib.push_back(ca);
        ours.insert(ours.begin() + 1, "--tls");
    }
    const std::string suffix = tls ? " (TLS)" : "";
    return {{"imap_count (ours)" + suffix, ours},
            {"curl -X STATUS" + suffix, curl},
            {"fetchmail -c" + suffix, {"fetchmail", "-c", "-f", (folder / "fetchmailrc").string()}},
            {"python3 imaplib" + suffix, imaplib}};
}

void RunWholeProcess(const DovecotServer& server, int rounds, bool tls) {
    const TemporaryFolder folder("bg-imapbench");
    const std::vector<std::string> environment =
        PeerEnvironment(folder.Path(), {std::string("SSL_CERT_FILE=") + std::getenv("SSL_CERT_FILE"),
                                        std::string("SSL_CERT_DIR=") + std::getenv("SSL_CERT_DIR")});
    const std::vector<ProcessPeer> peers =
        WorkingPeers(ProcessPeers(server, folder.Path(), tls), BG_IMAP_COUNT_PROGRAM, environment);
    PrintWholeProcessFigures(TimeProcesses(peers, environment, rounds),
                             tls ? "One unseen count over IMAPS as a whole process"
                                 : "One unseen count as a whole process",
                             rounds);
}

} // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    try {
        const BenchSettings settings = ParseBenchArguments(argc, argv);
        if (!DovecotServer::Available())
            Fail("Dovecot is not installed, or this is not root");
        TestCertificates::Get(); // trusted before the first TLS context is built
        DovecotServer server(DovecotServer::Options{.keepLoginProcesses = true, .tls = true, .imap = true});
        server.FillMailbox(kBenchMessages);
        std::printf("IMAP unseen count against a private Dovecot on 127.0.0.1:%u, IMAPS on %u (kept login "
                    "processes, %d unseen)\n",
                    server.Port(), server.TlsPort(), kBenchMessages);
        RunInProcess(server, settings.rounds);
        RunWholeProcess(server, settings.processRounds, false);
        RunWholeProcess(server, settings.processRounds, true);
        return 0;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "bench_imap: %s\n", error.what());
        return 1;
    }
}

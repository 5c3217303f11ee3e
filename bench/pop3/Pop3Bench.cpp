// One mailbox check (connect to QUIT: greeting, CAPA, USER, PASS, STAT, QUIT) against a private
// Dovecot with kept login processes, in one run:
// - in process: TIdPOP3 beside the same conversation on raw sockets (the floor) and beside
//   Python's poplib, timed inside Python;
// - as a whole process: pop3_count beside curl, fetchmail --check and mpop -s;
// - the same over implicit TLS (TlsBench.cpp).
// Rounds are interleaved so that drift in the machine's load touches every contender alike.
// Prints medians and ratios; asserts nothing. Must run as root (the server switches users).
//
//     bench_pop3 [--rounds N] [--process-rounds M]

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Text.h"
#include "bench/pop3/BenchFigures.h"
#include "bench/pop3/ChildProcess.h"
#include "bench/pop3/TlsBench.h"
#include "pop3/Pop3Client.h"
#include "tests/support/Pop3RawSession.h"
#include "tests/support/Pop3RealServers.h"
#include "tests/support/TemporaryFolder.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// ---- In process ----

double TimedRawCheck(const DovecotServer& server) {
    const auto start = Clock::now();
    const int32_t count = RawPop3MessageCount(server.Port(), server.UserName(), server.Password());
    const double elapsed = MicrosecondsSince(start);
    RequireCount("raw sockets", count);
    return elapsed;
}

// Python's poplib in one long-lived interpreter that times each check itself.
class PoplibPeer {
public:
    explicit PoplibPeer(const DovecotServer& server)
        : helper_({"/usr/bin/python3", BG_POP3_BENCH_DIR "/poplib_check.py", std::to_string(server.Port()),
                   server.UserName(), server.Password()}) {}

    double TimedCheck() {
        helper_.WriteLine("check");
        const std::string answer = helper_.ReadLine();
        double elapsed = 0;
        int count = -1;
        if (std::sscanf(answer.c_str(), "%lf %d", &elapsed, &count) != 2)
            Fail("poplib: " + (answer.empty() ? std::string("the helper ended") : answer));
        RequireCount("poplib", count);
        return elapsed;
    }

private:
    Coprocess helper_;
};

void RunInProcess(const DovecotServer& server, int rounds) {
    TIdPOP3 client;
    ConfigureClient(client, server, server.Port());
    PoplibPeer poplib(server);
    std::vector<Series> table{
        {"raw sockets (floor)", {}}, {"TIdPOP3", {}}, {"Python poplib (timed in Python)", {}}};
    TimeRounds({[&] { return TimedRawCheck(server); }, [&] { return TimedClientCheck(client); },
                [&] { return poplib.TimedCheck(); }},
               table, rounds, kWarmUpRounds);
    const Series& raw = table[0];
    const Series& ours = table[1];
    std::printf("\nOne check in process, connect to QUIT, %d rounds interleaved\n", rounds);
    PrintTable(table, Median(raw), "/ floor");
    std::printf("  TIdPOP3 / floor: %.2fx (aim: at most 1.10x)\n", Median(ours) / Median(raw));
}

// ---- Whole process ----

// The peers' configuration files: the same server, user and password, no TLS.
void WritePeerConfigs(const DovecotServer& server, const fs::path& folder) {
    const std::string port = std::to_string(server.Port());
    const std::string user = server.UserName(), password = server.Password();

    std::string fetchmail = "set no syslog\n";
    fetchmail += "poll 127.0.0.1 service " + port + " protocol pop3 auth password\n";
    // "sslproto ''": plain, no STLS although this server offers it.
    fetchmail += "  user \"" + user + "\" password \"" + password + "\" is root here sslproto ''\n";
    WritePrivateFile(folder / "fetchmailrc", fetchmail);

    std::string mpop = "account default\nhost 127.0.0.1\nport " + port + "\n";
    mpop += "user " + user + "\npassword " + password + "\nauth user\ntls off\n";
    mpop += "uidls_file " + (folder / "mpop-uidls").string() + "\ndelivery mbox /dev/null\n";
    WritePrivateFile(folder / "mpoprc", mpop);
}

std::vector<ProcessPeer> ProcessPeers(const DovecotServer& server, const fs::path& folder) {
    WritePeerConfigs(server, folder);
    const std::string port = std::to_string(server.Port());
    const std::string url =
        "pop3://" + server.UserName() + ":" + server.Password() + "@127.0.0.1:" + port + "/";
    const std::string fetchmailrc = (folder / "fetchmailrc").string();
    const std::string mpoprc = (folder / "mpoprc").string();
    return {
        {"pop3_count (ours)",
         {BG_POP3_COUNT_PROGRAM, "127.0.0.1", port, server.UserName(), server.Password()}},
        {"curl -I -X STAT", {"curl", "-s", "-I", "-X", "STAT", url}, {"-v"}},
        {"fetchmail --check", {"fetchmail", "--check", "-f", fetchmailrc}},
        // By default mpop sends USER and PASS back to back, and some of those checks then wait
        // about 40 ms for the answer to PASS; the second row shows mpop without that.
        {"mpop -s", {"mpop", "-s", "-C", mpoprc}},
        {"mpop -s --pipelining=off", {"mpop", "-s", "-C", mpoprc, "--pipelining=off"}},
    };
}

void RunWholeProcess(const DovecotServer& server, int rounds) {
    const TemporaryFolder folder("bg-pop3bench");
    const std::vector<std::string> environment = PeerEnvironment(folder.Path());
    const std::vector<ProcessPeer> peers =
        WorkingPeers(ProcessPeers(server, folder.Path()), BG_POP3_COUNT_PROGRAM, environment);
    PrintWholeProcessFigures(TimeProcesses(peers, environment, rounds), "One check as a whole process",
                             rounds);
}

} // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN); // a helper that died shows as a failed read, not as our death
    try {
        const BenchSettings settings = ParseBenchArguments(argc, argv);
        if (!DovecotServer::Available())
            Fail("Dovecot is not installed, or this is not root");
        DovecotServer server(DovecotServer::Options{.keepLoginProcesses = true, .tls = true});
        server.FillMailbox(kBenchMessages);
        std::printf(
            "POP3 check against a private Dovecot on 127.0.0.1:%u, POP3S on %u (kept login processes, "
            "%d messages)\n",
            server.Port(), server.TlsPort(), kBenchMessages);
        RunInProcess(server, settings.rounds);
        RunWholeProcess(server, settings.processRounds);
        RunTlsInProcess(server, settings.rounds);
        RunTlsWholeProcess(server, settings.processRounds);
        return 0;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "bench_pop3: %s\n", error.what());
        return 1;
    }
}

// One mailbox check (connect to QUIT: greeting, CAPA, USER, PASS, STAT, QUIT) against a private
// Dovecot with kept login processes, in one run:
// - in process: TIdPOP3 beside the same conversation on raw sockets (the floor) and beside
//   Python's poplib, timed inside Python;
// - as a whole process: pop3_count beside curl, fetchmail --check and mpop -s.
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
#include "bench/pop3/ChildProcess.h"
#include "pop3/Pop3Client.h"
#include "tests/support/Pop3RawSession.h"
#include "tests/support/Pop3RealServers.h"
#include "tests/support/TemporaryFolder.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMessages = 3;
constexpr int kWarmUpRounds = 50;
constexpr int32_t kTimeoutMs = 5000;

struct Settings {
    int rounds = 2000;
    int processRounds = 300;
};

// One contender's check durations in microseconds.
struct Series {
    std::string name;
    std::vector<double> us;
};

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(fraction * static_cast<double>(values.size() - 1))];
}

double Median(const Series& series) {
    return Percentile(series.us, 0.5);
}

void PrintSeries(const Series& series, double reference) {
    std::printf("  %-36s %9.1f %9.1f %9.1f   %6.2fx\n", series.name.c_str(), Median(series),
                Percentile(series.us, 0.1), Percentile(series.us, 0.9), Median(series) / reference);
}

void PrintTable(const std::vector<Series>& table, double reference, const char* ratioCaption) {
    std::printf("  %-36s %9s %9s %9s   %s\n", "", "median", "p10", "p90", ratioCaption);
    std::printf("  %-36s %9s %9s %9s\n", "", "us", "us", "us");
    for (const Series& series : table)
        PrintSeries(series, reference);
}

struct BenchFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Raised rather than exiting, so that the server is stopped on the way out.
[[noreturn]] void Fail(const std::string& what) {
    throw BenchFailure(what);
}

void RequireCount(const std::string& who, int32_t count) {
    if (count != kMessages)
        Fail(who + " counted " + std::to_string(count) + " messages, not " + std::to_string(kMessages));
}

double MicrosecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// ---- In process ----

// The check as the resident program runs it on its one long-lived client.
double TimedClientCheck(TIdPOP3& client) {
    const auto start = Clock::now();
    client.ConnectAndLogIn();
    const int32_t count = client.QueryMessageCount();
    client.CloseSession(true);
    const double elapsed = MicrosecondsSince(start);
    RequireCount("TIdPOP3", count);
    return elapsed;
}

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

void ConfigureClient(TIdPOP3& client, const DovecotServer& server) {
    client.SetHost(u"127.0.0.1");
    client.SetPort(server.Port());
    client.SetUsername(Utf8ToText(server.UserName()));
    client.SetPassword(Utf8ToText(server.Password()));
    client.SetConnectTimeout(kTimeoutMs);
    client.SetReadTimeout(kTimeoutMs);
}

// Runs round after round, each contender once per round; the order turns every round, so that
// no contender always follows the same one.
void TimeRounds(const std::vector<std::function<double()>>& contenders, std::vector<Series>& table,
                int rounds, int warmUpRounds) {
    const size_t count = contenders.size();
    for (int round = -warmUpRounds; round < rounds; ++round) {
        for (size_t k = 0; k < count; ++k) {
            const size_t i = (static_cast<size_t>(round + warmUpRounds) + k) % count;
            const double us = contenders[i]();
            if (round >= 0)
                table[i].us.push_back(us);
        }
    }
}

void RunInProcess(const DovecotServer& server, int rounds) {
    TIdPOP3 client;
    ConfigureClient(client, server);
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

// The row of a process that only starts and exits: how much of each figure is start-up alone.
constexpr const char* kStartUpOnly = "true (start-up only, no check)";

struct ProcessPeer {
    std::string name;
    std::vector<std::string> argv;
    // Added for the one run that shows the count (curl prints nothing unless verbose).
    std::vector<std::string> showCountFlags = {};
};

void WritePrivateFile(const fs::path& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
    chmod(path.c_str(), 0600); // both clients refuse a readable file holding a password
}

// The peers' configuration files: the same server, user and password, no TLS.
void WritePeerConfigs(const DovecotServer& server, const fs::path& folder) {
    const std::string port = std::to_string(server.Port());
    const std::string user = server.UserName(), password = server.Password();

    std::string fetchmail = "set no syslog\n";
    fetchmail += "poll 127.0.0.1 service " + port + " protocol pop3 auth password\n";
    // "sslproto ''": no STLS attempt, which this server would refuse.
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

std::vector<std::string> PeerEnvironment(const fs::path& folder) {
    const char* path = std::getenv("PATH");
    return {"HOME=" + folder.string(), "FETCHMAILHOME=" + folder.string(),
            std::string("PATH=") + (path ? path : "/usr/bin:/bin"), "LC_ALL=C"};
}

// The first output line that holds the count as a word, or empty.
std::string LineWithCount(const std::string& output) {
    const std::string count = std::to_string(kMessages);
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            if (word == count)
                return line;
        }
    }
    return "";
}

// Runs the peer once and shows where it reported the count; a peer that fails is left out.
bool ReportsCount(const ProcessPeer& peer, const std::vector<std::string>& environment) {
    std::vector<std::string> argv = peer.argv;
    argv.insert(argv.end(), peer.showCountFlags.begin(), peer.showCountFlags.end());
    const ProcessRun run = RunProcess(argv, environment, true);
    const std::string line = LineWithCount(run.output);
    const bool counted = run.exitStatus == 0 && !line.empty();
    std::printf("  %-26s exit %3d: %s%s\n", peer.name.c_str(), run.exitStatus,
                counted ? line.c_str() : run.output.substr(0, run.output.find('\n')).c_str(),
                counted ? "" : "   (left out)");
    return counted;
}

// The peers that completed a check in a first run, then the bare process start-up for scale.
std::vector<ProcessPeer> WorkingPeers(const DovecotServer& server, const fs::path& folder,
                                      const std::vector<std::string>& environment) {
    std::printf("\nWhole-process peers, one run each:\n");
    std::vector<ProcessPeer> peers;
    for (const ProcessPeer& peer : ProcessPeers(server, folder)) {
        if (ReportsCount(peer, environment))
            peers.push_back(peer);
    }
    if (peers.empty() || peers.front().argv.front() != BG_POP3_COUNT_PROGRAM)
        Fail("pop3_count did not complete a check");
    peers.push_back({kStartUpOnly, {"true"}});
    return peers;
}

std::vector<Series> TimeProcesses(const std::vector<ProcessPeer>& peers,
                                  const std::vector<std::string>& environment, int rounds) {
    std::vector<Series> table;
    std::vector<std::function<double()>> contenders;
    for (const ProcessPeer& peer : peers) {
        table.push_back({peer.name, {}});
        contenders.push_back([&peer, &environment] {
            const ProcessRun run = RunProcess(peer.argv, environment, false);
            if (run.exitStatus != 0)
                Fail(peer.name + " failed with exit status " + std::to_string(run.exitStatus));
            return run.elapsedUs;
        });
    }
    TimeRounds(contenders, table, rounds, kWarmUpRounds / 5);
    return table;
}

// The first row is ours; the start-up row is no contender.
void PrintWholeProcessFigures(const std::vector<Series>& table, int rounds) {
    const Series* fastest = nullptr;
    for (size_t i = 1; i < table.size(); ++i) {
        if (table[i].name != kStartUpOnly && (fastest == nullptr || Median(table[i]) < Median(*fastest)))
            fastest = &table[i];
    }
    std::printf("\nOne check as a whole process, start to exit, %d rounds interleaved\n", rounds);
    PrintTable(table, Median(table.front()), "/ ours");
    if (fastest != nullptr)
        std::printf("  pop3_count / fastest peer (%s): %.2fx (aim: below 1.00x)\n", fastest->name.c_str(),
                    Median(table.front()) / Median(*fastest));
}

void RunWholeProcess(const DovecotServer& server, int rounds) {
    const TemporaryFolder folder("bg-pop3bench");
    const std::vector<std::string> environment = PeerEnvironment(folder.Path());
    const std::vector<ProcessPeer> peers = WorkingPeers(server, folder.Path(), environment);
    PrintWholeProcessFigures(TimeProcesses(peers, environment, rounds), rounds);
}

Settings ParseArguments(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            settings.rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--process-rounds") == 0)
            settings.processRounds = std::max(1, std::atoi(argv[i + 1]));
        else
            Fail(std::string("unknown option ") + argv[i]);
    }
    return settings;
}

} // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN); // a helper that died shows as a failed read, not as our death
    try {
        const Settings settings = ParseArguments(argc, argv);
        if (!DovecotServer::Available())
            Fail("Dovecot is not installed, or this is not root");
        DovecotServer server(DovecotServer::Options{.keepLoginProcesses = true});
        server.FillMailbox(kMessages);
        std::printf(
            "POP3 check against a private Dovecot on 127.0.0.1:%u (kept login processes, %d messages)\n",
            server.Port(), kMessages);
        RunInProcess(server, settings.rounds);
        RunWholeProcess(server, settings.processRounds);
        return 0;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "bench_pop3: %s\n", error.what());
        return 1;
    }
}

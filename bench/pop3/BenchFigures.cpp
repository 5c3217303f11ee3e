#include "bench/pop3/BenchFigures.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "base/Text.h"
#include "bench/pop3/ChildProcess.h"
#include "pop3/Pop3Client.h"
#include "tests/support/Pop3RealServers.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// The row of a process that only starts and exits: how much of each figure is start-up alone.
constexpr const char* kStartUpOnly = "true (start-up only, no check)";

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(fraction * static_cast<double>(values.size() - 1))];
}

void PrintSeries(const Series& series, double reference) {
    std::printf("  %-40s %9.1f %9.1f %9.1f   %6.2fx\n", series.name.c_str(), Median(series),
                Percentile(series.us, 0.1), Percentile(series.us, 0.9), Median(series) / reference);
}

// The first output line that holds the count as a word, or empty.
std::string LineWithCount(const std::string& output) {
    const std::string count = std::to_string(kBenchMessages);
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            // "(UNSEEN 3)" holds the count too.
            if (word.substr(0, word.find_last_not_of(")") + 1) == count)
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
    std::printf("  %-30s exit %3d: %s%s\n", peer.name.c_str(), run.exitStatus,
                counted ? line.c_str() : run.output.substr(0, run.output.find('\n')).c_str(),
                counted ? "" : "   (left out)");
    return counted;
}

} // namespace

double Median(const Series& series) {
    return Percentile(series.us, 0.5);
}

void PrintTable(const std::vector<Series>& table, double reference, const char* ratioCaption) {
    std::printf("  %-40s %9s %9s %9s   %s\n", "", "median", "p10", "p90", ratioCaption);
    std::printf("  %-40s %9s %9s %9s\n", "", "us", "us", "us");
    for (const Series& series : table)
        PrintSeries(series, reference);
}

BenchSettings ParseBenchArguments(int argc, char** argv) {
    BenchSettings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--rounds")
            settings.rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::string(argv[i]) == "--process-rounds")
            settings.processRounds = std::max(1, std::atoi(argv[i + 1]));
        else
            Fail(std::string("unknown option ") + argv[i]);
    }
    return settings;
}

void Fail(const std::string& what) {
    throw BenchFailure(what);
}

void RequireCount(const std::string& who, int32_t count) {
    if (count != kBenchMessages)
        Fail(who + " counted " + std::to_string(count) + " messages, not " + std::to_string(kBenchMessages));
}

double MicrosecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

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

void ConfigureClient(TIdPOP3& client, const DovecotServer& server, uint16_t port) {
    constexpr int32_t kTimeoutMs = 5000;
    client.SetHost(u"127.0.0.1");
    client.SetPort(port);
    client.SetUsername(Utf8ToText(server.UserName()));
    client.SetPassword(Utf8ToText(server.Password()));
    client.SetConnectTimeout(kTimeoutMs);
    client.SetReadTimeout(kTimeoutMs);
}

double TimedClientCheck(TIdPOP3& client) {
    const auto start = Clock::now();
    client.ConnectAndLogIn();
    const int32_t count = client.QueryMessageCount();
    client.CloseSession(true);
    const double elapsed = MicrosecondsSince(start);
    RequireCount("TIdPOP3", count);
    return elapsed;
}

void WritePrivateFile(const fs::path& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
    chmod(path.c_str(), 0600);
}

std::vector<std::string> PeerEnvironment(const fs::path& folder, const std::vector<std::string>& extra) {
    const char* path = std::getenv("PATH");
    std::vector<std::string> environment = {"HOME=" + folder.string(), "FETCHMAILHOME=" + folder.string(),
                                            std::string("PATH=") + (path ? path : "/usr/bin:/bin"),
                                            "LC_ALL=C"};
    environment.insert(environment.end(), extra.begin(), extra.end());
    return environment;
}

std::vector<ProcessPeer> WorkingPeers(const std::vector<ProcessPeer>& peers, const std::string& ourProgram,
                                      const std::vector<std::string>& environment) {
    std::printf("\nWhole-process peers, one run each:\n");
    std::vector<ProcessPeer> working;
    for (const ProcessPeer& peer : peers) {
        if (ReportsCount(peer, environment))
            working.push_back(peer);
    }
    if (working.empty() || working.front().argv.front() != ourProgram)
        Fail(fs::path(ourProgram).filename().string() + " did not complete a check");
    working.push_back({kStartUpOnly, {"true"}});
    return working;
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

void PrintWholeProcessFigures(const std::vector<Series>& table, const std::string& title, int rounds) {
    const Series* fastest = nullptr;
    for (size_t i = 1; i < table.size(); ++i) {
        if (table[i].name != kStartUpOnly && (fastest == nullptr || Median(table[i]) < Median(*fastest)))
            fastest = &table[i];
    }
    std::printf("\n%s, start to exit, %d rounds interleaved\n", title.c_str(), rounds);
    PrintTable(table, Median(table.front()), "/ ours");
    if (fastest != nullptr)
        std::printf("  %s / fastest peer (%s): %.2fx (aim: below 1.00x)\n", table.front().name.c_str(),
                    fastest->name.c_str(), Median(table.front()) / Median(*fastest));
}

#pragma once
// What the POP3 benchmarks share: series of timings and their tables, interleaved rounds, and the
// whole-process peers (which ones complete a check, how long each run takes).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// The mailbox of every benchmark holds this many messages; every contender must count them.
constexpr int kBenchMessages = 3;
constexpr int kWarmUpRounds = 50;

// How many rounds to time: in process, and as whole processes.
struct BenchSettings {
    int rounds = 2000;
    int processRounds = 300;
};
// "--rounds N" and "--process-rounds M"; raises BenchFailure for anything else.
BenchSettings ParseBenchArguments(int argc, char** argv);

// One contender's check durations in microseconds.
struct Series {
    std::string name;
    std::vector<double> us;
};

double Median(const Series& series);
// Median, p10 and p90 of every row, and the median over `reference` under `ratioCaption`.
void PrintTable(const std::vector<Series>& table, double reference, const char* ratioCaption);

struct BenchFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// Raised rather than exiting, so that the server is stopped on the way out.
[[noreturn]] void Fail(const std::string& what);
// Fails unless the count is kBenchMessages.
void RequireCount(const std::string& who, int32_t count);
double MicrosecondsSince(std::chrono::steady_clock::time_point start);

// Runs round after round, each contender once per round, into its row of `table`; the order
// turns every round, so that no contender always follows the same one.
void TimeRounds(const std::vector<std::function<double()>>& contenders, std::vector<Series>& table,
                int rounds, int warmUpRounds);

// ---- In process ----

class TIdPOP3;
class DovecotServer;

// The client aimed at 127.0.0.1:port of the server, with its user and the program's time-outs.
void ConfigureClient(TIdPOP3& client, const DovecotServer& server, uint16_t port);
// One check as the resident program runs it on its one long-lived client; fails unless the
// count is right.
double TimedClientCheck(TIdPOP3& client);

// ---- Whole process ----

struct ProcessPeer {
    std::string name;
    std::vector<std::string> argv;
    // Added for the one run that shows the count (curl prints nothing unless verbose).
    std::vector<std::string> showCountFlags = {};
};

// Writes a file only its owner may read: the peers refuse a readable file holding a password.
void WritePrivateFile(const std::filesystem::path& path, const std::string& contents);
// HOME and FETCHMAILHOME in the folder, PATH, LC_ALL=C, and `extra` (NAME=value entries).
std::vector<std::string> PeerEnvironment(const std::filesystem::path& folder,
                                         const std::vector<std::string>& extra = {});
// Runs each peer once and shows where it reported the count; those that fail are left out. The
// first peer must be ours (`ourProgram`). The bare process start-up is added for scale.
std::vector<ProcessPeer> WorkingPeers(const std::vector<ProcessPeer>& peers, const std::string& ourProgram,
                                      const std::vector<std::string>& environment);
// The peers' runs timed in interleaved rounds.
std::vector<Series> TimeProcesses(const std::vector<ProcessPeer>& peers,
                                  const std::vector<std::string>& environment, int rounds);
// The table (the first row ours) and how ours compares with the fastest peer.
void PrintWholeProcessFigures(const std::vector<Series>& table, const std::string& title, int rounds);

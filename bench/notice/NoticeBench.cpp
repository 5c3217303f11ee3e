// The cost of the new-mail notice: one check that finds the count grown (UIDL, TOP of the three
// newest, their senders and subjects decoded into the notice's text) beside one that finds it
// unchanged (no extra command), against the same private Dovecot, in interleaved rounds. Each
// round uses a fresh client, as a first check after start would, so every message counts as new.
// Prints medians and their ratio; asserts nothing. Must run as root (the server switches users).
//
//     bench_notice [--rounds N]

#include <signal.h>

#include <chrono>
#include <cstdio>

#include "app/NewMailNotice.h"
#include "bench/pop3/BenchFigures.h"
#include "pop3/Pop3Client.h"
#include "tests/support/Pop3RealServers.h"

namespace {

using Clock = std::chrono::steady_clock;

double TimedCheck(const DovecotServer& server, bool grown) {
    const auto start = Clock::now();
    TIdPOP3 client;
    ConfigureClient(client, server, server.Port());
    client.ConnectAndLogIn();
    const int32_t count = client.QueryMessageCount();
    if (grown) {
        std::vector<std::string> headers;
        for (NewMessageHeader& message : client.RetrieveNewHeaders(count, count, NoticeNamesMost))
            headers.push_back(std::move(message.header));
        if (headers.size() != static_cast<size_t>(NoticeNamesMost))
            Fail("the grown check fetched " + std::to_string(headers.size()) + " headers");
        if (ComposeNewMailNotice(count, headers, ulEnglish).body.empty())
            Fail("the notice names nobody");
    }
    client.CloseSession(true);
    const double elapsed = MicrosecondsSince(start);
    RequireCount(grown ? "grown check" : "unchanged check", count);
    return elapsed;
}

} // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    try {
        const BenchSettings settings = ParseBenchArguments(argc, argv);
        if (!DovecotServer::Available())
            Fail("Dovecot is not installed, or this is not root");
        DovecotServer server(DovecotServer::Options{.keepLoginProcesses = true});
        server.FillMailbox(kBenchMessages);
        std::printf(
            "POP3 check against a private Dovecot on 127.0.0.1:%u (kept login processes, %d messages), "
            "%d rounds\n",
            server.Port(), kBenchMessages, settings.rounds);
        std::vector<Series> table{{"check, count unchanged", {}},
                                  {"check, count grown: headers and notice", {}}};
        TimeRounds({[&] { return TimedCheck(server, false); }, [&] { return TimedCheck(server, true); }},
                   table, settings.rounds, kWarmUpRounds);
        PrintTable(table, Median(table[0]), "/ unchanged");
        return 0;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "bench_notice: %s\n", error.what());
        return 1;
    }
}

#include "fuzz/HostileCheck.h"

#include <ctime>
#include <optional>
#include <thread>
#include <vector>

#include "base/Text.h"
#include "fuzz/FuzzChecks.h"
#include "fuzz/ScriptedPeer.h"
#include "transport/StackSocketIO.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr size_t MostConnections = 3;
// Room for the scheduling of a busy machine; a wait that ignored the limit takes the read
// time-out of the program, 5000 ms.
constexpr milliseconds SessionSlack{1500};

// The processor time a sound check may spend: a fixed part (the handshake's arithmetic), twice
// the time the server was busy rather than stalling, and a little for every byte it sent (a
// flood read while the server stalls). A check that waits by spinning takes the whole stall.
constexpr std::chrono::microseconds FixedCpu{10000};
constexpr std::chrono::nanoseconds CpuPerByte{2000};

std::chrono::nanoseconds ThreadCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

std::string Milliseconds(std::chrono::nanoseconds time) {
    return std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(time).count() / 1000.0) +
           " ms";
}

// The peer listens on 127.0.0.1 and, for the scripts that ask "#at2", on 127.0.0.2.
int Listener(std::string_view script, uint16_t& port) {
    static uint16_t firstPort = 0;
    static uint16_t secondPort = 0;
    static const int first = OpenLoopbackListener(firstPort, "127.0.0.1");
    static const int second = OpenLoopbackListener(secondPort, "127.0.0.2");
    const bool atSecond = ScriptAsks(script, "at2");
    port = atSecond ? secondPort : firstPort;
    return atSecond ? second : first;
}

std::vector<std::string_view> ConnectionScripts(std::string_view input) {
    constexpr std::string_view separator = "\n#next\n";
    std::vector<std::string_view> scripts;
    while (scripts.size() + 1 < MostConnections) {
        const size_t at = input.find(separator);
        if (at == std::string_view::npos)
            break;
        scripts.push_back(input.substr(0, at + 1));
        input.remove_prefix(at + separator.size());
    }
    scripts.push_back(input);
    return scripts;
}

// One check against a peer playing `script`; whether the next may follow on the same client.
bool RunOneCheck(std::string_view script, TIdTCPConnection& client,
                 const std::function<CheckOutcome(std::string_view)>& check, bool firstCheck) {
    uint16_t port = 0;
    const int listener = Listener(script, port);
    std::optional<ScriptedPeer> peer;
    std::thread server([&] {
        peer.emplace(listener, script);
        peer->Play();
    });
    const auto cpuBefore = ThreadCpuTime();
    const auto started = Clock::now();
    const CheckOutcome outcome = check(script);
    const auto ended = Clock::now();
    const auto cpu = ThreadCpuTime() - cpuBefore;
    const auto took = ended - started;

    FUZZ_CHECK(took <= outcome.timeLimit + SessionSlack, "the check took " + Milliseconds(took));
    if (!outcome.errorLeftToReport) {
        FUZZ_CHECK(!client.TcpConnectionIsOpen(), "connection left open");
        FUZZ_CHECK(client.IOHandler() == nullptr || client.IOHandler()->InputQueue().Size() == 0,
                   std::to_string(client.IOHandler()->InputQueue().Size()) + " bytes left unread");
    } else if (client.IOHandler() != nullptr) {
        client.IOHandler()->Close(); // as the client's end would, so that the server sees it
    }
    server.join();
    FUZZ_CHECK(peer->ClosedFirst() || peer->ClientClosed(), "the server never saw the client close");
    FUZZ_CHECK(!outcome.tlsRequired || peer->ReceivedInClear().find(outcome.password) == std::string::npos,
               "the password was sent in the clear: " + Quoted(peer->ReceivedInClear()));
    const auto busy = took - peer->StalledBetween(started, ended);
    const auto cpuAllowed = FixedCpu + 2 * busy + CpuPerByte * peer->SentBytes();
    FUZZ_CHECK(firstCheck || cpu <= cpuAllowed,
               "the check spent " + Milliseconds(cpu) + " of processor time in " + Milliseconds(took) +
                   ", of which the server was busy " + Milliseconds(busy) + " and sent " +
                   std::to_string(peer->SentBytes()) + " bytes");
    return !outcome.errorLeftToReport;
}

} // namespace

// The address checker recycles its quarantine of freed memory in the thread that frees, a batch
// as large as the quarantine at a time: with its default of 256 MiB, one check now and then pays
// tens of milliseconds of processor time for the inputs before it, which the property above
// would take for a busy wait. A small quarantine spreads that cost thin.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=8";
}

uint16_t ScriptedPeerPort(std::string_view script) {
    uint16_t port = 0;
    Listener(script, port);
    return port;
}

std::u16string ScriptedPeerHost(std::string_view script) {
    if (ScriptAsks(script, "byname"))
        return u"localhost";
    return ScriptAsks(script, "at2") ? u"127.0.0.2" : u"127.0.0.1";
}

bool ScriptAsks(std::string_view script, std::string_view option) {
    while (script.starts_with('#')) {
        const size_t end = script.find('\n');
        const std::string_view line = script.substr(1, end == std::string_view::npos ? script.npos : end - 1);
        if (line == option)
            return true;
        if (end == std::string_view::npos)
            break;
        script.remove_prefix(end + 1);
    }
    return false;
}

void RunHostileChecks(std::string_view input, std::unique_ptr<TIdTCPConnection> client,
                      const std::function<CheckOutcome(std::string_view)>& check) {
    // The first check sets up what lives as long as the process (the socket stack, the TLS context).
    static bool firstCheck = true;
    const bool first = firstCheck;
    const int descriptorsBefore = OpenDescriptors();
    for (const std::string_view script : ConnectionScripts(input)) {
        const bool goesOn = RunOneCheck(script, *client, check, firstCheck);
        firstCheck = false;
        if (!goesOn)
            break;
    }
    client.reset();
    FUZZ_CHECK(first || OpenDescriptors() == descriptorsBefore, "a descriptor was left open");
}

bool CheckLeftAnErrorToReport(TIdTCPConnection& client, const std::function<void()>& steps,
                              const std::function<void()>& close) {
    try {
        steps();
    } catch (const Exception&) {
        bool open = false;
        try {
            open = client.TcpConnectionIsOpen();
        } catch (const Exception&) {
            return true;
        }
        if (open) {
            try {
                close();
            } catch (const Exception&) {
            }
        }
    }
    return false;
}

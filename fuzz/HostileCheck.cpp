#include "fuzz/HostileCheck.h"

#include <ctime>
#include <optional>
#include <thread>

#include "fuzz/FuzzChecks.h"
#include "fuzz/ScriptedPeer.h"
#include "transport/StackSocketIO.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

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
    return std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(time).count() / 1000.0) + " ms";
}

int Listener(uint16_t& port) {
    static uint16_t listenerPort = 0;
    static const int listener = OpenLoopbackListener(listenerPort);
    port = listenerPort;
    return listener;
}

} // namespace

uint16_t ScriptedPeerPort() {
    uint16_t port = 0;
    Listener(port);
    return port;
}

void RunHostileCheck(std::string_view script, std::unique_ptr<TIdTCPConnection> client,
                     const std::function<bool()>& check, milliseconds sessionLimit) {
    // The first check sets up what lives as long as the process (the socket stack, the TLS context).
    static bool firstCheck = true;
    uint16_t port = 0;
    const int listener = Listener(port);
    const int descriptorsBefore = OpenDescriptors();

    std::optional<ScriptedPeer> peer;
    std::thread server([&] {
        peer.emplace(listener, script);
        peer->Play();
    });
    const auto cpuBefore = ThreadCpuTime();
    const auto started = Clock::now();
    const bool reported = check();
    const auto ended = Clock::now();
    const auto cpu = ThreadCpuTime() - cpuBefore;
    const auto took = ended - started;

    FUZZ_CHECK(took <= sessionLimit + SessionSlack, "the check took " + Milliseconds(took));
    if (!reported) {
        FUZZ_CHECK(!client->TcpConnectionIsOpen(), "connection left open");
        FUZZ_CHECK(client->IOHandler() == nullptr || client->IOHandler()->InputQueue().Size() == 0,
                   std::to_string(client->IOHandler()->InputQueue().Size()) + " bytes left unread");
    }
    client.reset();
    server.join();
    FUZZ_CHECK(peer->ClosedFirst() || peer->ClientClosed(), "the server never saw the client close");
    const auto busy = took - peer->StalledBetween(started, ended);
    const auto cpuAllowed = FixedCpu + 2 * busy + CpuPerByte * peer->SentBytes();
    FUZZ_CHECK(firstCheck || cpu <= cpuAllowed, "the check spent " + Milliseconds(cpu) + " of processor time in " +
                                                    Milliseconds(took) + ", of which the server was busy " +
                                                    Milliseconds(busy) + " and sent " +
                                                    std::to_string(peer->SentBytes()) + " bytes");
    peer.reset();
    FUZZ_CHECK(firstCheck || OpenDescriptors() == descriptorsBefore, "a descriptor was left open");
    firstCheck = false;
}

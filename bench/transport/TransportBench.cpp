// Connect and one line each way against a loopback echo server: the transport's client beside
// the same done with raw blocking sockets, in the same run. Prints medians and ratios; asserts
// nothing.
//
//     bench_transport [rounds]

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "transport/TcpClient.h"

namespace {

using Clock = std::chrono::steady_clock;

double MicrosecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count();
}

// Accepts connections one after another, echoes one line and closes: the server closes first, so
// the closed connections wait out their close on the server's port and the client's ports are
// free again at once.
class EchoServer {
public:
    EchoServer() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(listener_, 64) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::perror("echo server");
            std::exit(1);
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
        thread_.detach();
    }
    uint16_t Port() const { return port_; }

private:
    void Serve() {
        for (;;) {
            const int client = accept(listener_, nullptr, nullptr);
            if (client == -1)
                continue;
            std::string line;
            char buffer[4096];
            ssize_t received;
            while (line.find('\n') == std::string::npos &&
                   (received = recv(client, buffer, sizeof buffer, 0)) > 0)
                line.append(buffer, static_cast<size_t>(received));
            send(client, line.data(), line.size(), MSG_NOSIGNAL);
            close(client);
        }
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

struct Timing {
    std::vector<double> connect;
    std::vector<double> exchange;
};

const char kLine[] = "STAT\r\n";

void RawRound(uint16_t port, Timing& timing) {
    const auto start = Clock::now();
    const int handle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("raw connect");
        std::exit(1);
    }
    const auto connected = Clock::now();
    send(handle, kLine, sizeof kLine - 1, MSG_NOSIGNAL);
    std::string line;
    char buffer[256];
    while (line.find('\n') == std::string::npos) {
        const ssize_t received = recv(handle, buffer, sizeof buffer, 0);
        if (received <= 0)
            break;
        line.append(buffer, static_cast<size_t>(received));
    }
    const auto exchanged = Clock::now();
    while (recv(handle, buffer, sizeof buffer, 0) > 0) {
    }
    close(handle);
    timing.connect.push_back(MicrosecondsBetween(start, connected));
    timing.exchange.push_back(MicrosecondsBetween(connected, exchanged));
}

void ClientRound(TIdTCPClientCustom& client, Timing& timing) {
    const auto start = Clock::now();
    client.OpenTcpConnection();
    const auto connected = Clock::now();
    client.IOHandler()->WriteLine(u"STAT");
    const std::u16string line = client.IOHandler()->ReadLine();
    const auto exchanged = Clock::now();
    client.IOHandler()->FillInputBuffer(false, 1000, false); // the server's close
    client.CloseTcpConnection(false);
    if (line != u"STAT") {
        std::fprintf(stderr, "unexpected echo\n");
        std::exit(1);
    }
    timing.connect.push_back(MicrosecondsBetween(start, connected));
    timing.exchange.push_back(MicrosecondsBetween(connected, exchanged));
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Report(const char* name, const Timing& timing, const Timing& raw) {
    const double connect = Median(timing.connect);
    const double exchange = Median(timing.exchange);
    const double rawConnect = Median(raw.connect);
    const double rawTotal = rawConnect + Median(raw.exchange);
    std::printf("%-34s connect %7.1f us (%4.2fx)  line %7.1f us  connect + line %7.1f us (%4.2fx)\n", name,
                connect, connect / rawConnect, exchange, connect + exchange, (connect + exchange) / rawTotal);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 1000;
    EchoServer server;
    TIdTCPClientCustom watched;
    watched.SetHost(u"127.0.0.1");
    watched.SetPort(server.Port());
    watched.SetConnectTimeout(5000);
    watched.SetReadTimeout(5000);
    TIdTCPClientCustom direct;
    direct.SetHost(u"127.0.0.1");
    direct.SetPort(server.Port());
    direct.SetConnectTimeout(0);
    direct.SetReadTimeout(5000);

    Timing raw, withWatcher, withoutWatcher, discard;
    for (int warmUp = 0; warmUp < 50; ++warmUp) {
        RawRound(server.Port(), discard);
        ClientRound(watched, discard);
        ClientRound(direct, discard);
    }
    // Interleaved, so that drift in the machine's load touches all three alike.
    for (int round = 0; round < rounds; ++round) {
        RawRound(server.Port(), raw);
        ClientRound(watched, withWatcher);
        ClientRound(direct, withoutWatcher);
    }
    std::printf("TCP connect + one line written and read back, loopback, %d rounds, medians (ratio to raw)\n",
                rounds);
    Report("raw blocking sockets", raw, raw);
    Report("client, connect time-out 5000 ms", withWatcher, raw);
    Report("client, connect time-out 0", withoutWatcher, raw);
    return 0;
}

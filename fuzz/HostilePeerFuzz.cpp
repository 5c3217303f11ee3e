// One whole mail check, as the program runs it, against a hostile server on loopback that plays
// the input as its script. Whatever the server does, only the program's own exceptions come
// out, the check ends within its session limit, and it leaves no connection, no descriptor and
// no unread input behind. (A failure of the connection query on the check's error path, such as
// a reset by the server, is left to the program's error report, as the check does; the
// connection may then stay until the next check, but no descriptor outlives the client.)
//
// The script is the input's lines: each line is sent as it stands (with its LF; a last piece
// without one is sent without), except these:
//   #<          wait for one line from the client
//   #~N         stay silent N ms (at most 20)
//   #>text      send "text" without a line end (a line in pieces)
//   #*N text    send "text" CR LF N times (at most 20000)
//   #+N text    send "text" N times without line ends (an over-long line)
//   #!          close the connection

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "fuzz/FuzzChecks.h"
#include "pop3/Pop3Client.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds SessionLimit{50};
// Room for the scheduling of a busy machine; a wait that ignored the limit takes the read
// time-out of the program, 5000 ms.
constexpr milliseconds SessionSlack{1500};
constexpr int ProgramTimeoutMs = 5000;
constexpr int PeerWaitMs = 2000;

int OpenListener(uint16_t& port) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        FuzzFinding("the loopback listener could not be opened");
    port = ntohs(address.sin_port);
    return listener;
}

bool Readable(int fd, int ms) {
    pollfd wanted{fd, POLLIN, 0};
    return poll(&wanted, 1, ms) == 1;
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* folder = opendir("/proc/self/fd")) {
        while (readdir(folder) != nullptr)
            ++count;
        closedir(folder);
    }
    return count;
}

// The server's side of one connection, played from the script.
class THostilePeer {
public:
    THostilePeer(int listener, std::string_view script) : script_(script) {
        if (Readable(listener, PeerWaitMs))
            connection_ = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    }
    ~THostilePeer() {
        if (connection_ >= 0)
            close(connection_);
    }

    void Play() {
        if (connection_ < 0)
            return;
        timeval sendLimit{PeerWaitMs / 1000, 0};
        setsockopt(connection_, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
        const int noDelay = 1; // each piece goes out at once, as a piece
        setsockopt(connection_, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        for (size_t start = 0; start < script_.size() && alive_;) {
            const size_t end = script_.find('\n', start);
            const bool ended = end != std::string_view::npos;
            const std::string_view line = script_.substr(start, ended ? end - start : std::string_view::npos);
            start = ended ? end + 1 : script_.size();
            if (line.starts_with('#'))
                Direct(line.substr(1));
            else
                Send(ended ? std::string(line) + "\n" : std::string(line));
        }
        if (!alive_)
            return;
        // The script has ended: the server says no more, and the client must close its side.
        shutdown(connection_, SHUT_WR);
        ReadUntilClosed();
    }

    bool ClosedFirst() const { return closedFirst_; }
    bool ClientClosed() const { return clientClosed_; }

private:
    static int NumberIn(std::string_view text, int largest) {
        int number = 0;
        for (size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            number = std::min(number * 10 + (text[i] - '0'), largest);
        return number;
    }

    void Direct(std::string_view directive) {
        if (directive.starts_with('<')) {
            AwaitLine();
        } else if (directive.starts_with('~')) {
            std::this_thread::sleep_for(milliseconds(NumberIn(directive.substr(1), 20)));
        } else if (directive.starts_with('>')) {
            Send(std::string(directive.substr(1)));
        } else if (directive.starts_with('*') || directive.starts_with('+')) {
            const size_t blank = directive.find(' ');
            std::string piece(blank == std::string_view::npos ? "" : directive.substr(blank + 1));
            if (directive.starts_with('*'))
                piece += "\r\n";
            std::string repeated;
            for (int i = NumberIn(directive.substr(1), 20000); i > 0; --i)
                repeated += piece;
            Send(repeated);
        } else if (directive.starts_with('!')) {
            close(connection_);
            connection_ = -1;
            closedFirst_ = true;
            alive_ = false;
        }
    }

    void Send(const std::string& bytes) {
        for (size_t sent = 0; sent < bytes.size() && alive_;) {
            const ssize_t count = send(connection_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (count > 0)
                sent += static_cast<size_t>(count);
            else
                Stop(count < 0 && (errno == EPIPE || errno == ECONNRESET));
        }
    }

    void AwaitLine() {
        while (received_.find('\n') == std::string::npos)
            if (!ReceiveSome())
                return;
        received_.erase(0, received_.find('\n') + 1);
    }

    void ReadUntilClosed() {
        while (ReceiveSome())
            received_.clear();
    }

    // Waits for bytes from the client and keeps them; false once the script must end.
    bool ReceiveSome() {
        char chunk[512];
        if (!Readable(connection_, PeerWaitMs)) {
            Stop(false);
            return false;
        }
        const ssize_t count = recv(connection_, chunk, sizeof chunk, 0);
        if (count <= 0) {
            Stop(true); // an orderly close, or a reset by a close that left data unread
            return false;
        }
        received_.append(chunk, static_cast<size_t>(count));
        return true;
    }

    // The script ends here; `clientClosed` when because the client has closed its side.
    void Stop(bool clientClosed) {
        alive_ = false;
        clientClosed_ = clientClosed;
    }

    std::string_view script_;
    std::string received_;
    int connection_ = -1;
    bool alive_ = true;
    bool closedFirst_ = false;
    bool clientClosed_ = false;
};

// The check as the program runs it: a failure is dropped after the connection is closed. An
// error of the connection query there is not caught: the program reports it. Whether it did.
bool CheckLeftAnErrorToReport(TIdPOP3& client) {
    try {
        client.ConnectAndLogIn();
        client.QueryMessageCount();
        client.CloseSession(true);
    } catch (const Exception&) {
        bool open = false;
        try {
            open = client.TcpConnectionIsOpen();
        } catch (const Exception&) {
            return true;
        }
        if (open) {
            try {
                client.CloseSession(true);
            } catch (const Exception&) {
            }
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static uint16_t port = 0;
    static const int listener = OpenListener(port);
    // The first check sets up what lives as long as the process (the socket stack).
    static bool firstCheck = true;
    const std::string_view script(reinterpret_cast<const char*>(data), size);
    const int descriptorsBefore = OpenDescriptors();

    std::optional<THostilePeer> peer;
    std::thread server([&] {
        peer.emplace(listener, script);
        peer->Play();
    });
    auto client = std::make_unique<TIdPOP3>();
    client->SetHost(u"127.0.0.1");
    client->SetPort(port);
    client->SetUsername(u"anna");
    client->SetPassword(u"secret");
    client->SetConnectTimeout(ProgramTimeoutMs);
    client->SetReadTimeout(ProgramTimeoutMs);
    client->SetSessionTimeLimit(SessionLimit);
    const auto started = Clock::now();
    const bool reported = CheckLeftAnErrorToReport(*client);
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - started);

    FUZZ_CHECK(took <= SessionLimit + SessionSlack, "the check took " + std::to_string(took.count()) + " ms");
    if (!reported) {
        FUZZ_CHECK(!client->TcpConnectionIsOpen(), "connection left open");
        FUZZ_CHECK(client->IOHandler() == nullptr || client->IOHandler()->InputQueue().Size() == 0,
                   std::to_string(client->IOHandler()->InputQueue().Size()) + " bytes left unread");
    }
    client.reset();
    server.join();
    FUZZ_CHECK(peer->ClosedFirst() || peer->ClientClosed(), "the server never saw the client close");
    peer.reset();
    FUZZ_CHECK(firstCheck || OpenDescriptors() == descriptorsBefore, "a descriptor was left open");
    firstCheck = false;
    return 0;
}

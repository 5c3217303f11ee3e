// What reaches the sign-in's loopback listener: any bytes, sent in pieces with polls between
// them, then the sender's reset. Polling never raises; every request with a whole head gets one
// answer of a known status whose length is right; only a 200 ends the wait, with a code or an
// error but not both; an error's text on the page is escaped; nothing is left open.

#include <fuzzer/FuzzedDataProvider.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "fuzz/FuzzChecks.h"
#include "fuzz/ScriptedPeer.h"
#include "signin/RedirectListener.h"

namespace {

const RedirectPages Pages{"<p>signed in</p>", "<p>failed:</p>"};
constexpr int QuietPolls = 30;

int ConnectTo(const std::string& redirectUri) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port =
        htons(static_cast<uint16_t>(std::stoi(redirectUri.substr(redirectUri.rfind(':') + 1))));
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        FuzzFinding("could not connect to the listener", redirectUri + ": " + std::strerror(errno));
    return fd;
}

void Poll(RedirectListener& listener, std::optional<RedirectOutcome>& outcome) {
    std::optional<RedirectOutcome> polled = listener.Poll();
    FUZZ_CHECK(!(polled && outcome), "two outcomes from one request");
    if (polled)
        outcome = std::move(polled);
}

// Polls the listener until the sender's socket has the whole answer (the listener closes after
// it), or for a while when the request is not whole: the listener then waits for more.
std::string PollForAnswer(RedirectListener& listener, int fd, std::optional<RedirectOutcome>& outcome) {
    std::string answer;
    for (int i = 0; i < QuietPolls; ++i) {
        Poll(listener, outcome);
        pollfd readable{fd, POLLIN, 0};
        while (poll(&readable, 1, 1) == 1) {
            char chunk[4096];
            const ssize_t count = recv(fd, chunk, sizeof chunk, 0);
            if (count <= 0)
                return answer;
            answer.append(chunk, static_cast<size_t>(count));
        }
    }
    FUZZ_CHECK(answer.empty(), "an answer without the close: " + Quoted(answer));
    return answer;
}

void ExpectSoundAnswer(const std::string& answer, const std::optional<RedirectOutcome>& outcome) {
    if (answer.empty()) {
        FUZZ_CHECK(!outcome, "an outcome without an answer");
        return;
    }
    const size_t headEnd = answer.find("\r\n\r\n");
    FUZZ_CHECK(headEnd != std::string::npos, Quoted(answer));
    const std::string status = answer.substr(0, answer.find("\r\n"));
    FUZZ_CHECK(status == "HTTP/1.1 200 OK" || status == "HTTP/1.1 400 Bad Request" ||
                   status == "HTTP/1.1 404 Not Found" ||
                   status == "HTTP/1.1 431 Request Header Fields Too Large",
               status);
    const std::string body = answer.substr(headEnd + 4);
    FUZZ_CHECK(answer.find("Content-Length: " + std::to_string(body.size()) + "\r\n") < headEnd,
               Quoted(answer));
    FUZZ_CHECK(outcome.has_value() == (status == "HTTP/1.1 200 OK"), status);
    if (!outcome)
        return;
    FUZZ_CHECK(outcome->Code.empty() != outcome->Error.empty(), "a code and an error, or neither");
    const std::string& page = outcome->Code.empty() ? Pages.Failed : Pages.SignedIn;
    FUZZ_CHECK(body.starts_with(page), Quoted(body));
    FUZZ_CHECK(body.find_first_of("<>\"", page.size()) == std::string::npos, "unescaped: " + Quoted(body));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<size_t> pieces(input.ConsumeIntegralInRange<size_t>(0, 8));
    for (size_t& piece : pieces)
        piece = input.ConsumeIntegralInRange<size_t>(1, 64);
    const std::string request = input.ConsumeRemainingBytesAsString();

    // The first request sets up what lives as long as the process (the socket stack).
    static bool firstRequest = true;
    const int descriptorsBefore = OpenDescriptors();
    std::optional<RedirectOutcome> outcome;
    std::string answer;
    {
        RedirectListener listener("st4te", Pages);
        const int fd = ConnectTo(listener.RedirectUri());
        size_t sent = 0;
        for (const size_t piece : pieces) {
            const size_t count = std::min(piece, request.size() - sent);
            if (count > 0)
                send(fd, request.data() + sent, count, MSG_NOSIGNAL);
            sent += count;
            Poll(listener, outcome);
        }
        if (sent < request.size())
            send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        answer = PollForAnswer(listener, fd, outcome);
        // The sender resets rather than closes: the listener, which closes first when it
        // answers, leaves no connection waiting out its close, and thousands of requests a
        // second do not fill the machine's ports. A request cut off so is dropped.
        const linger reset{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        close(fd);
        for (int i = 0; i < 3; ++i)
            Poll(listener, outcome);
    }
    ExpectSoundAnswer(answer, outcome);
    FUZZ_CHECK(firstRequest || OpenDescriptors() == descriptorsBefore, "a descriptor was left open");
    firstRequest = false;
    return 0;
}

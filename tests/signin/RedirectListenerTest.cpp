// The redirect listener against raw loopback clients: what each request gets, and that neither a
// stray request nor a silent connection ends or blocks the wait for the real redirect.
#include "signin/RedirectListener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/TestSockets.h"

namespace {

const RedirectPages kPages{"<p>signed in</p>", "<p>failed: "};

uint16_t PortOf(const RedirectListener& listener) {
    const std::string uri = listener.RedirectUri();
    return static_cast<uint16_t>(std::stoi(uri.substr(uri.rfind(':') + 1)));
}

TestSocket Connect(const RedirectListener& listener) {
    const TestSocket socket = OpenTestSocket();
    EXPECT_TRUE(ConnectBlockingToLoopback(socket, PortOf(listener), 5000));
    return socket;
}

// Sends the request, polls until the listener has answered it, and returns the answer's status
// line together with the outcome the poll reported.
std::pair<std::string, std::optional<RedirectOutcome>> Exchange(RedirectListener& listener,
                                                                const std::string& request) {
    const TestSocket socket = Connect(listener);
    SendEverything(socket, request.data(), request.size());
    std::optional<RedirectOutcome> outcome;
    std::string answer;
    for (int i = 0; i < 200 && answer.find("\r\n\r\n") == std::string::npos; ++i) {
        if (auto polled = listener.Poll())
            outcome = polled;
        char buffer[4096];
        if (WaitTestSocket(socket, false, 10)) {
            const int count = ReceiveSome(socket, buffer, sizeof buffer);
            if (count <= 0)
                break;
            answer.append(buffer, count);
        }
    }
    CloseTestSocket(socket);
    return {answer.substr(0, answer.find("\r\n")), outcome};
}

} // namespace

TEST(RedirectListener, AnswersEachRequestAndEndsOnlyOnTheMatchingRedirect) {
    const struct {
        std::string request;
        std::string status;
        std::string code, error;
    } cases[] = {
        {"GET /favicon.ico HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 404 Not Found", "", ""},
        {"GET /?code=c1&state=wrong HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request", "", ""},
        {"GET /?code=c1 HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request", "", ""},
        {"GET /?state=S1 HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request", "", ""},
        {"POST /?code=c1&state=S1 HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request", "", ""},
        {"GET /?x=" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n",
         "HTTP/1.1 431 Request Header Fields Too Large", "", ""},
        {"GET /?error=access_denied&error_description=End-User%20aborted&state=S1&iss=x HTTP/1.1\r\n\r\n",
         "HTTP/1.1 200 OK", "", "access_denied"},
        {"GET /?code=c%2B1&state=S1&iss=https%3A%2F%2F127.0.0.1 HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", "c+1",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.substr(0, 60));
        RedirectListener listener("S1", kPages);
        EXPECT_EQ(listener.RedirectUri().rfind("http://127.0.0.1:", 0), 0u);
        const auto [status, outcome] = Exchange(listener, c.request);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(outcome.has_value(), !c.code.empty() || !c.error.empty());
        if (outcome) {
            EXPECT_EQ(outcome->Code, c.code);
            EXPECT_EQ(outcome->Error, c.error);
        }
    }
}

TEST(RedirectListener, SilentConnectionNeitherBlocksTheRedirectNorStaysForever) {
    RedirectListener listener("S1", kPages);
    const TestSocket silent = Connect(listener);
    const std::string partial = "GET /?code=";
    const TestSocket dripping = Connect(listener);
    SendEverything(dripping, partial.data(), partial.size());
    listener.Poll();
    const auto [status, outcome] = Exchange(listener, "GET /?code=c&state=S1 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(status, "HTTP/1.1 200 OK");
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->Code, "c");
    // Past the idle limit both unfinished connections are closed by the listener.
    std::this_thread::sleep_for(std::chrono::milliseconds(RedirectListener::IdleLimitMs + 200));
    listener.Poll();
    for (TestSocket socket : {silent, dripping}) {
        char buffer[16];
        EXPECT_TRUE(WaitTestSocket(socket, false, 1000));
        EXPECT_EQ(ReceiveSome(socket, buffer, sizeof buffer), 0);
        CloseTestSocket(socket);
    }
}

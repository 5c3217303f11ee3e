#pragma once
// The check's POP3 conversation (greeting, CAPA, USER, PASS, STAT, QUIT) written directly on
// a blocking socket, with nothing of the program's own network code. Tests use it to prove a
// server works; benchmarks use it as the floor to compare the client against.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/TestSockets.h"

struct RawPop3Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The next line out of `buffered` without its CR LF, topped up by read(chunk, size) (which
// returns the count read, 0 or less on close or failure) until it holds an LF. Raises
// RawPop3Failure when a read fails.
template <class Read> std::string ReadBufferedLine(std::string& buffered, Read read) {
    size_t end = buffered.find('\n');
    while (end == std::string::npos) {
        char chunk[4096];
        const long count = read(chunk, sizeof chunk);
        if (count <= 0)
            throw RawPop3Failure(count == 0 ? "connection closed" : "read failed or timed out");
        buffered.append(chunk, static_cast<size_t>(count));
        end = buffered.find('\n');
    }
    std::string line = buffered.substr(0, end);
    buffered.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

class RawPop3Session {
public:
    // Connects to 127.0.0.1:port; every read waits at most `readTimeoutMs`.
    // Raises RawPop3Failure when the connection cannot be made.
    explicit RawPop3Session(uint16_t port, int readTimeoutMs = 5000);
    ~RawPop3Session();
    RawPop3Session(const RawPop3Session&) = delete;
    RawPop3Session& operator=(const RawPop3Session&) = delete;

    // Sends the line followed by CR LF.
    void SendLine(const std::string& line);
    // The next line without its CR LF; raises RawPop3Failure on time-out or close.
    std::string ReadLine();
    // Sends a command and returns its one-line reply.
    std::string Command(const std::string& line);
    // Lines up to the terminating ".", after a "+OK" to a multi-line command such as CAPA.
    std::vector<std::string> ReadDotList();

private:
    TestSocket socket_ = NoTestSocket;
    std::string buffered_;
};

// One whole check: greeting, "CAPA", "USER", "PASS", "STAT", "QUIT". Returns the message count;
// raises RawPop3Failure when any reply that must be "+OK" is not.
int32_t RawPop3MessageCount(uint16_t port, const std::string& user, const std::string& password);

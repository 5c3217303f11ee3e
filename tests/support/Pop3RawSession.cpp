#include "tests/support/Pop3RawSession.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

void RequireOk(const std::string& reply, const std::string& what) {
    if (reply.rfind("+OK", 0) != 0)
        throw RawPop3Failure(what + " answered: " + reply);
}

} // namespace

RawPop3Session::RawPop3Session(uint16_t port, int readTimeoutMs) {
    socket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0)
        throw RawPop3Failure("no socket");
    timeval timeout{readTimeoutMs / 1000, (readTimeoutMs % 1000) * 1000};
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const int on = 1;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(socket_);
        throw RawPop3Failure("cannot connect to 127.0.0.1:" + std::to_string(port));
    }
}

RawPop3Session::~RawPop3Session() {
    close(socket_);
}

void RawPop3Session::SendLine(const std::string& line) {
    const std::string bytes = line + "\r\n";
    if (send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
        throw RawPop3Failure("cannot send " + line);
}

std::string RawPop3Session::ReadLine() {
    return ReadBufferedLine(buffered_,
                            [this](char* chunk, size_t size) { return recv(socket_, chunk, size, 0); });
}

std::string RawPop3Session::Command(const std::string& line) {
    SendLine(line);
    return ReadLine();
}

std::vector<std::string> RawPop3Session::ReadDotList() {
    std::vector<std::string> lines;
    for (std::string line = ReadLine(); line != "."; line = ReadLine())
        lines.push_back(line.rfind("..", 0) == 0 ? line.substr(1) : line);
    return lines;
}

int32_t RawPop3MessageCount(uint16_t port, const std::string& user, const std::string& password) {
    RawPop3Session session(port);
    RequireOk(session.ReadLine(), "greeting");
    if (session.Command("CAPA").rfind("+OK", 0) == 0)
        session.ReadDotList();
    RequireOk(session.Command("USER " + user), "USER");
    RequireOk(session.Command("PASS " + password), "PASS");
    const std::string stat = session.Command("STAT");
    RequireOk(stat, "STAT");
    session.Command("QUIT");
    try {
        return static_cast<int32_t>(std::stol(stat.substr(3)));
    } catch (const std::logic_error&) {
        throw RawPop3Failure("STAT answered without a count: " + stat);
    }
}

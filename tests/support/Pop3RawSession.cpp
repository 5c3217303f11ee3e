#include "tests/support/Pop3RawSession.h"

namespace {

void RequireOk(const std::string& reply, const std::string& what) {
    if (reply.rfind("+OK", 0) != 0)
        throw RawPop3Failure(what + " answered: " + reply);
}

} // namespace

RawPop3Session::RawPop3Session(uint16_t port, int readTimeoutMs) {
    socket_ = OpenTestSocket();
    if (socket_ == NoTestSocket)
        throw RawPop3Failure("no socket");
    if (!ConnectBlockingToLoopback(socket_, port, readTimeoutMs)) {
        CloseTestSocket(socket_);
        throw RawPop3Failure("cannot connect to 127.0.0.1:" + std::to_string(port));
    }
}

RawPop3Session::~RawPop3Session() {
    CloseTestSocket(socket_);
}

void RawPop3Session::SendLine(const std::string& line) {
    const std::string bytes = line + "\r\n";
    if (!SendEverything(socket_, bytes.data(), bytes.size()))
        throw RawPop3Failure("cannot send " + line);
}

std::string RawPop3Session::ReadLine() {
    return ReadBufferedLine(buffered_,
                            [this](char* chunk, size_t size) { return ReceiveSome(socket_, chunk, size); });
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

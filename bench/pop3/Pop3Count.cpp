// One mailbox check from the command line, the same conversation the resident program has
// (greeting, CAPA, USER, PASS, STAT, QUIT), for whole-process figures beside other clients.
//
//     pop3_count HOST PORT USER PASSWORD
//
// Prints the number of waiting messages and exits 0; on a failed check prints the error on
// standard error and exits 1; on wrong usage exits 2.

#include <charconv>
#include <cstdio>
#include <exception>
#include <string_view>

#include "base/Text.h"
#include "pop3/Pop3Client.h"

namespace {

constexpr int32_t kTimeoutMs = 5000;

bool ParsePort(std::string_view text, int32_t& port) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    return error == std::errc() && end == text.data() + text.size() && port > 0 && port <= 65535;
}

int32_t CheckMailbox(TIdPOP3& client) {
    try {
        client.ConnectAndLogIn();
        const int32_t count = client.QueryMessageCount();
        client.CloseSession(true);
        return count;
    } catch (...) {
        if (client.TcpConnectionIsOpen())
            client.CloseSession(false);
        throw;
    }
}

} // namespace

int main(int argc, char** argv) {
    int32_t port = 0;
    if (argc != 5 || !ParsePort(argv[2], port)) {
        std::fprintf(stderr, "usage: %s HOST PORT USER PASSWORD\n", argv[0]);
        return 2;
    }
    TIdPOP3 client;
    client.SetHost(Utf8ToText(argv[1]));
    client.SetPort(port);
    client.SetUsername(Utf8ToText(argv[3]));
    client.SetPassword(Utf8ToText(argv[4]));
    client.SetConnectTimeout(kTimeoutMs);
    client.SetReadTimeout(kTimeoutMs);
    try {
        std::printf("%d\n", CheckMailbox(client));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}

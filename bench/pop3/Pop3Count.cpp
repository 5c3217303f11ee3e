// One mailbox check from the command line, the same conversation the resident program has
// (greeting, CAPA, USER, PASS, STAT, QUIT), for whole-process figures beside other clients.
//
//     pop3_count [--tls | --stls] HOST PORT USER PASSWORD
//
// --tls: implicit TLS from the connect on; --stls: "STLS" required. The certificate is checked
// against the system's trust store (SSL_CERT_FILE and SSL_CERT_DIR point elsewhere).
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

// The TLS option, when the first argument is one; else utNoTLSSupport.
TIdUseTLS TakeTlsOption(int& argc, char**& argv) {
    if (argc < 2)
        return utNoTLSSupport;
    const std::string_view option = argv[1];
    const TIdUseTLS useTLS = option == "--tls"    ? utUseImplicitTLS
                             : option == "--stls" ? utUseRequireTLS
                                                  : utNoTLSSupport;
    if (useTLS != utNoTLSSupport) {
        argv[1] = argv[0];
        --argc;
        ++argv;
    }
    return useTLS;
}

} // namespace

int main(int argc, char** argv) {
    const TIdUseTLS useTLS = TakeTlsOption(argc, argv);
    int32_t port = 0;
    if (argc != 5 || !ParsePort(argv[2], port)) {
        std::fprintf(stderr, "usage: %s [--tls | --stls] HOST PORT USER PASSWORD\n", argv[0]);
        return 2;
    }
    TIdPOP3 client;
    client.SetUseTLS(useTLS);
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

// One unseen count from the command line, the same conversation the resident program has
// (greeting, capabilities, LOGIN, STATUS INBOX (UNSEEN), LOGOUT), for whole-process figures
// beside other clients.
//
//     imap_count [--tls | --starttls] HOST PORT USER PASSWORD
//
// --tls: TLS from the first byte; --starttls: "STARTTLS" required. The certificate is checked
// against the system's trust store (SSL_CERT_FILE and SSL_CERT_DIR point elsewhere).
// Prints the number of unseen messages in INBOX and exits 0; on a failed check prints the error
// on standard error and exits 1; on wrong usage exits 2.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "base/Text.h"
#include "imap/ImapClient.h"

int main(int argc, char** argv) {
    ImapClient client;
    int first = 1;
    if (argc > 1 && std::string_view(argv[1]) == "--tls")
        client.SetUseTLS(utUseImplicitTLS), ++first;
    else if (argc > 1 && std::string_view(argv[1]) == "--starttls")
        client.SetUseTLS(utUseRequireTLS), ++first;
    const int port = argc - first == 4 ? std::atoi(argv[first + 1]) : 0;
    if (port <= 0 || port > 65535) {
        std::fprintf(stderr, "usage: %s [--tls | --starttls] HOST PORT USER PASSWORD\n", argv[0]);
        return 2;
    }
    client.SetHost(Utf8ToText(argv[first]));
    client.SetPort(port);
    client.SetUsername(Utf8ToText(argv[first + 2]));
    client.SetPassword(Utf8ToText(argv[first + 3]));
    client.SetConnectTimeout(5000);
    client.SetReadTimeout(5000);
    try {
        client.ConnectAndLogIn();
        const int32_t unseen = client.QueryUnseenCount();
        client.CloseSession();
        std::printf("%d\n", unseen);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}

#include "tests/support/ImapCheckRun.h"

Pop3CheckOutcome RunImapCheck(ImapClient& client) {
    Pop3CheckOutcome outcome;
    const auto start = std::chrono::steady_clock::now();
    try {
        client.ConnectAndLogIn();
        outcome.count = client.QueryUnseenCount();
        client.CloseSession();
    } catch (...) {
        outcome.failure = std::current_exception();
        outcome.openAfterFailure = client.TcpConnectionIsOpen();
        if (outcome.openAfterFailure) {
            try {
                client.CloseSession();
            } catch (...) {
            }
        }
    }
    outcome.openAtEnd = client.TcpConnectionIsOpen();
    outcome.duration =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return outcome;
}

#include "tests/support/Pop3CheckRun.h"

#include <typeinfo>

#include "pop3/Pop3Errors.h"

Pop3CheckOutcome RunCheck(TIdPOP3& client) {
    Pop3CheckOutcome outcome;
    const auto start = std::chrono::steady_clock::now();
    try {
        client.ConnectAndLogIn();
        outcome.count = client.QueryMessageCount();
        client.CloseSession(true);
    } catch (...) {
        outcome.failure = std::current_exception();
        outcome.openAfterFailure = client.TcpConnectionIsOpen();
        if (outcome.openAfterFailure) {
            try {
                client.CloseSession(true);
            } catch (...) {
            }
        }
    }
    outcome.openAtEnd = client.TcpConnectionIsOpen();
    outcome.duration =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return outcome;
}

std::string Pop3CheckOutcome::Describe() const {
    if (!failure)
        return "no failure";
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return std::string(typeid(error).name()) + ": " + error.what();
    } catch (...) {
        return "unknown failure";
    }
}

std::u16string Pop3CheckOutcome::FailureMessage() const {
    if (!failure)
        return {};
    try {
        std::rethrow_exception(failure);
    } catch (const Exception& error) {
        return error.Message();
    } catch (...) {
        return {};
    }
}

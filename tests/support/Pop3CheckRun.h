#pragma once
// Runs the mail check's POP3 conversation the way the program does, and keeps what came of it,
// so that tests against scripted and real servers can compare outcomes and the bytes sent.
//
//     TIdPOP3 client;
//     AimClient(client, server.Port());
//     const Pop3CheckOutcome outcome = RunCheck(client);
//     EXPECT_EQ(outcome.count, 3);

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "pop3/Pop3Client.h"

// Host 127.0.0.1 and the given port, the program's time-outs (or a shorter read time-out, and
// a sign-in wait shortened in the same proportion) and the credentials "u" and "p": for the
// POP3 and the IMAP client alike.
template <class Client> void AimClient(Client& client, uint16_t port, int32_t readTimeoutMs = 5000) {
    client.SetHost(u"127.0.0.1");
    client.SetPort(port);
    client.SetConnectTimeout(5000);
    client.SetReadTimeout(readTimeoutMs);
    client.SetSignInReplyTimeout(3 * readTimeoutMs);
    client.SetUsername(u"u");
    client.SetPassword(u"p");
}

struct Pop3CheckOutcome {
    // The count, when "STAT" was answered.
    std::optional<int32_t> count;
    // The first failure of the check, if any.
    std::exception_ptr failure;
    // Whether the connection was still open when the failure arrived.
    bool openAfterFailure = false;
    // Whether the connection was open once the check was over.
    bool openAtEnd = false;
    std::chrono::milliseconds duration{};

    bool Failed() const { return failure != nullptr; }
    // The failure's class and message, for test output.
    std::string Describe() const;
    // The failure's message (empty without one).
    std::u16string FailureMessage() const;
    // Whether the failure is of class E (or derived from it).
    template <class E> bool FailedWith() const {
        if (!failure)
            return false;
        try {
            std::rethrow_exception(failure);
        } catch (const E&) {
            return true;
        } catch (...) {
            return false;
        }
    }
};

// ConnectAndLogIn, QueryMessageCount and CloseSession(true); after a failure, CloseSession(true)
// again when the connection is still open, its own failure dropped.
Pop3CheckOutcome RunCheck(TIdPOP3& client);

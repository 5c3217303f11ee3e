#pragma once
// Runs the mail check's IMAP conversation the way the program does (sign in, count the unseen
// messages of INBOX, log out) and keeps what came of it, in the outcome the POP3 check uses.
//
//     ImapClient client;
//     AimImapClient(client, server.Port());
//     const Pop3CheckOutcome outcome = RunImapCheck(client);

#include <cstdint>

#include "imap/ImapClient.h"
#include "tests/support/Pop3CheckRun.h"

// Host 127.0.0.1 and the given port, the program's time-outs (or a shorter read time-out) and
// the credentials "u" and "p".
void AimImapClient(ImapClient& client, uint16_t port, int32_t readTimeoutMs = 5000);

// ConnectAndLogIn, QueryUnseenCount and CloseSession; after a failure, CloseSession again when
// the connection is still open, its own failure dropped.
Pop3CheckOutcome RunImapCheck(ImapClient& client);

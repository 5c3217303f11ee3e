#pragma once
// Runs the mail check's IMAP conversation the way the program does (sign in, count the unseen
// messages of INBOX, log out) and keeps what came of it, in the outcome the POP3 check uses.
//
//     ImapClient client;
//     AimClient(client, server.Port());
//     const Pop3CheckOutcome outcome = RunImapCheck(client);

#include <cstdint>

#include "imap/ImapClient.h"
#include "tests/support/Pop3CheckRun.h"

// ConnectAndLogIn, QueryUnseenCount and CloseSession; after a failure, CloseSession again when
// the connection is still open, its own failure dropped.
Pop3CheckOutcome RunImapCheck(ImapClient& client);

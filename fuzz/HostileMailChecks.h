#pragma once
// The mail checks the hostile-peer harnesses run against the scripted peer (HostileCheck.h):
// POP3, or IMAP when the first connection's script asks for it, signing in as "anna" with the
// password (or access token) "secret". A script's first lines may hold these options:
//   #imap      the IMAP client (in the first connection's script: one client per input)
//   #tls       (the first line, also the server's handshake) TLS from the first byte
//   #offered   the TLS command only when the server lists it, else in the clear
//   #plain     no TLS
//   #apop      POP3 signs in with APOP
//   #notify    also takes the headers of new messages, as for the notice (POP3 "UIDL" and "TOP",
//              IMAP "EXAMINE", "UID SEARCH" and "UID FETCH")
//   #token     signs in with an access token (POP3 "AUTH", IMAP "AUTHENTICATE")
//   #literal   IMAP signs in with the password "sécret", which goes as a literal
//   #byname    the client asks for the host "localhost" (by name, not by address)
//   #at2       the client and the peer meet at 127.0.0.2 (the expired certificate's address)
//   #idle      IMAP watches the mailbox (EXAMINE, the unseen count, IDLE, DONE) instead of STATUS
// Without `overTls` every check is in the clear; with it, a check without #tls, #offered or
// #plain requires the TLS command.

#include <chrono>
#include <string_view>

void RunHostileMailChecks(std::string_view input, bool overTls, std::chrono::milliseconds sessionLimit);

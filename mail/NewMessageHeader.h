#pragma once
// A message new in the mailbox, as the notice of new mail names it.

#include <string>

struct NewMessageHeader {
    // What names the message in its mailbox for good: the "UIDL" id, or IMAP's
    // "<UIDVALIDITY>/<UID>"; empty when the server gives none.
    std::string id;
    // The header lines, as the server sent them.
    std::string header;

    bool operator==(const NewMessageHeader&) const = default;
};

#pragma once
// The IMAP check written directly on a line connection (a raw socket or raw OpenSSL calls), with
// nothing of the program's own network code: the floor the client is compared against. It has
// the same conversation the client has with a server that lists its capabilities in the
// greeting and after LOGIN: greeting, LOGIN, STATUS INBOX (UNSEEN), LOGOUT.

#include <cstdint>
#include <string>

#include "tests/support/Pop3RawSession.h"

// Reads up to the line tagged `tag`, which must say OK; returns the untagged line that begins
// with `wanted` (empty when none came).
template <class Lines>
std::string RawImapAwait(Lines& lines, const std::string& tag, const std::string& wanted = "\x01") {
    std::string found;
    for (std::string line = lines.ReadLine();; line = lines.ReadLine()) {
        if (line.rfind(wanted, 0) == 0)
            found = line;
        if (line.rfind(tag + " ", 0) == 0) {
            if (line.compare(tag.size() + 1, 2, "OK") != 0)
                throw RawPop3Failure(line);
            return found;
        }
    }
}

template <class Lines>
int32_t RawImapUnseenCount(Lines& lines, const std::string& user, const std::string& password) {
    if (lines.ReadLine().rfind("* OK", 0) != 0)
        throw RawPop3Failure("no IMAP greeting");
    lines.SendLine("a LOGIN " + user + " " + password);
    RawImapAwait(lines, "a");
    lines.SendLine("b STATUS INBOX (UNSEEN)");
    const std::string status = RawImapAwait(lines, "b", "* STATUS");
    lines.SendLine("c LOGOUT");
    RawImapAwait(lines, "c");
    const size_t unseen = status.find("UNSEEN ");
    if (unseen == std::string::npos)
        throw RawPop3Failure("no UNSEEN count");
    return static_cast<int32_t>(std::stol(status.substr(unseen + 7)));
}

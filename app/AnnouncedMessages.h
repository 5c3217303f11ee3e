#pragma once
// The messages that notices have named, remembered across runs in a small file, so that a notice
// names only mail not announced before (also the first one after a restart).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "mail/NewMessageHeader.h"

class AnnouncedMessages {
public:
    // How many ids the file keeps at most; the ones announced longest ago go first.
    static constexpr size_t MostKept = 256;

    // Kept in `file` (its folders are made when first written); an empty name keeps them in
    // memory only.
    explicit AnnouncedMessages(std::u16string file);

    // "announced" in the user's folder for the program's state; empty when the user has none.
    static std::u16string DefaultFile();

    // The mailbox as the file names it: a digest of what tells mailboxes apart, so the file
    // holds no user or server name.
    static std::string MailboxKey(std::u16string_view protocol, std::u16string_view user,
                                  std::u16string_view server, std::u16string_view port);

    struct Unannounced {
        std::vector<NewMessageHeader> messages; // newest first
        bool upToAnnounced = false;             // a message announced before ended them
    };
    // The messages of `newest` (newest first) ahead of the first one announced before in the
    // mailbox: mail older than an announced message was there when that notice was shown. A
    // message without an id is never taken for announced.
    Unannounced Filter(const std::string& mailbox, const std::vector<NewMessageHeader>& newest);

    // Remembers the messages' ids as announced in the mailbox and writes the file; a file that
    // cannot be read or written is passed over (the ids are then kept for this run only).
    void Remember(const std::string& mailbox, const std::vector<NewMessageHeader>& named);

private:
    void Load();

    std::u16string file_;
    bool loaded_ = false;
    std::vector<std::string> entries_; // "<mailbox> <id>", the oldest first
};

#include "app/AnnouncedMessages.h"

#include <algorithm>

#include "base/Md5.h"
#include "base/Text.h"
#include "toolz/SettingsFileStore.h"
#include "toolz/SettingsLocation.h"

namespace {

constexpr size_t MailboxKeyLength = 16;
// Longer than any id a server gives ("UIDL" ids have at most 70 characters).
constexpr size_t MostIdLength = 100;

// Printable ASCII without blanks, as ids are.
bool IsIdText(std::string_view id) {
    return !id.empty() && id.size() <= MostIdLength &&
           std::all_of(id.begin(), id.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

std::string Entry(const std::string& mailbox, const std::string& id) {
    return mailbox + " " + id;
}

// The file's lines that look like entries, the oldest first; anything else is dropped.
std::vector<std::string> ParseEntries(const std::string& text) {
    std::vector<std::string> entries;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        const size_t blank = line.find(' ');
        if (blank == MailboxKeyLength && IsIdText(std::string_view(line).substr(0, blank)) &&
            IsIdText(std::string_view(line).substr(blank + 1)))
            entries.push_back(line);
        start = end + 1;
    }
    return entries;
}

std::string JoinEntries(const std::vector<std::string>& entries) {
    std::string text;
    for (const std::string& entry : entries)
        text += entry + "\n";
    return text;
}

// `entries` with the new ones added (an entry already there moves to the end), the oldest
// beyond `most` dropped.
std::vector<std::string> Merged(std::vector<std::string> entries, const std::vector<std::string>& added,
                                size_t most) {
    for (const std::string& entry : added) {
        std::erase(entries, entry);
        entries.push_back(entry);
    }
    if (entries.size() > most)
        entries.erase(entries.begin(), entries.end() - static_cast<std::ptrdiff_t>(most));
    return entries;
}

} // namespace

AnnouncedMessages::AnnouncedMessages(std::u16string file) : file_(std::move(file)) {}

std::u16string AnnouncedMessages::DefaultFile() {
    const std::u16string folder = UserStateFolder();
    return folder.empty() ? folder : folder + PathSeparators().front() + u"announced";
}

std::string AnnouncedMessages::MailboxKey(std::u16string_view protocol, std::u16string_view user,
                                          std::u16string_view server, std::u16string_view port) {
    const std::u16string parts = std::u16string(protocol) + u"\n" + std::u16string(user) + u"\n" +
                                 std::u16string(server) + u"\n" + std::u16string(port);
    return TextToUtf8(Md5Digest::HashBytesAsHex(TextToUtf8(parts)).substr(0, MailboxKeyLength));
}

void AnnouncedMessages::Load() {
    if (loaded_)
        return;
    loaded_ = true;
    if (file_.empty())
        return;
    try {
        if (const std::optional<std::string> text = ReadFileIfPresent(TextToUtf8(file_)))
            entries_ = ParseEntries(*text);
    } catch (...) {
        // Unreadable: as if nothing had been announced.
    }
}

AnnouncedMessages::Unannounced AnnouncedMessages::Filter(const std::string& mailbox,
                                                         const std::vector<NewMessageHeader>& newest) {
    Load();
    Unannounced result;
    for (const NewMessageHeader& message : newest) {
        if (!message.id.empty() &&
            std::find(entries_.begin(), entries_.end(), Entry(mailbox, message.id)) != entries_.end()) {
            result.upToAnnounced = true;
            break;
        }
        result.messages.push_back(message);
    }
    return result;
}

void AnnouncedMessages::Remember(const std::string& mailbox, const std::vector<NewMessageHeader>& named) {
    Load();
    std::vector<std::string> added;
    for (auto message = named.rbegin(); message != named.rend(); ++message)
        if (IsIdText(message->id))
            added.push_back(Entry(mailbox, message->id));
    if (added.empty())
        return;
    entries_ = Merged(std::move(entries_), added, MostKept);
    if (file_.empty())
        return;
    try {
        // Another copy of the program may have added its own since this one read the file.
        UpdateFileUnderLock(TextToUtf8(file_), [&](const std::string& text) {
            entries_ = Merged(ParseEntries(text), added, MostKept);
            return JoinEntries(entries_);
        });
    } catch (...) {
    }
}

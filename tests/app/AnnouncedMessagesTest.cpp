// The file of the messages notices named: what it keeps, what it drops, and a second writer.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "app/AnnouncedMessages.h"
#include "base/Text.h"

namespace {

std::vector<std::string> Lines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(AnnouncedMessages, FileKeepsTheNewestWellFormedIdsOfEveryWriter) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("bg_announced_" + std::to_string(getpid())) / "announced";
    const std::string box = AnnouncedMessages::MailboxKey(u"POP3", u"anna", u"mail.example", u"110");
    ASSERT_EQ(box.size(), 16u);
    ASSERT_NE(box, AnnouncedMessages::MailboxKey(u"IMAP", u"anna", u"mail.example", u"110"));
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << box << " kept\nno-key line\n" << box << " two words\n" << box << " \xC3\xA9\n\0\n";

    AnnouncedMessages store(Utf8ToText(file.string()));
    const auto filtered = store.Filter(box, {{"new", "N"}, {"", "no id"}, {"kept", "K"}, {"older", "O"}});
    EXPECT_TRUE(filtered.upToAnnounced);
    EXPECT_EQ(filtered.messages, (std::vector<NewMessageHeader>{{"new", "N"}, {"", "no id"}}));

    AnnouncedMessages otherCopy(Utf8ToText(file.string()));
    otherCopy.Remember(box, {{"by-other", ""}});
    store.Remember(box, {{"newer", ""}, {"new", ""}, {"", ""}, {"bad id", ""}});
    EXPECT_EQ(Lines(file),
              (std::vector<std::string>{box + " kept", box + " by-other", box + " new", box + " newer"}));

    std::vector<NewMessageHeader> many;
    for (size_t i = 0; i < AnnouncedMessages::MostKept + 5; ++i)
        many.insert(many.begin(), {"m" + std::to_string(i), ""});
    store.Remember(box, many);
    const std::vector<std::string> lines = Lines(file);
    ASSERT_EQ(lines.size(), AnnouncedMessages::MostKept);
    EXPECT_EQ(lines.front(), box + " m5");
    EXPECT_EQ(lines.back(), box + " m" + std::to_string(AnnouncedMessages::MostKept + 4));
    std::filesystem::remove_all(file.parent_path());
}

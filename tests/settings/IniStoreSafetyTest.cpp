#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "base/Exceptions.h"
#include "base/Integers.h"
#include "base/Text.h"
#include "tests/settings/SettingsTestSupport.h"
#include "toolz/INIToolz.h"
#include "toolz/Toolz.h"

namespace fs = std::filesystem;

namespace {

constexpr std::u16string_view Missing = u"<missing>";

std::u16string Value(const std::u16string& file, std::u16string_view key) {
    return GetPrivateProfileString(u"Main", key, Missing, file);
}

// The round a complete store left behind, checked key by key; -1 when the file is damaged.
int RoundOfCompleteStore(const std::u16string& file) {
    const std::u16string port = Value(file, u"Port");
    const int round = IntegerFromText(port, -1);
    const std::u16string server = Value(file, u"POP3Server");
    if (round < 0 || server.empty() || server == Missing)
        return -1;
    for (std::u16string_view key : {u"UserName", u"Password", u"PathToClient", u"PathToSound", u"WWW"})
        if (Value(file, key) == Missing)
            return -1;
    return round;
}

size_t EntriesIn(const fs::path& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Waits until the stores of a child have moved the file past `round`.
void WaitUntilStoredPast(const std::u16string& file, int round) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (IntegerFromText(ReadIniString(u"Main", u"Port", u"", file), -1) <= round &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Forks a child that waits until the parent closes the write end of `start`, runs `body` and exits.
pid_t ForkStorer(const int (&start)[2], const std::function<void()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        close(start[1]);
        char ignored;
        while (read(start[0], &ignored, 1) > 0) {
        }
        body();
        _exit(0);
    }
    return child;
}

} // namespace

TEST(IniStoreSafety, ProcessKilledInTheMiddleOfStoresLeavesACompleteFile) {
    for (int delayMs : {0, 3, 15, 40}) {
        TTempFolder folder;
        const std::u16string file = folder.File("Brevgluggen.INI");
        StoreSevenSettings(file, 0);
        const pid_t child = fork();
        if (child == 0) {
            for (int round = 1; round <= 1000; ++round)
                StoreSevenSettings(file, round);
            _exit(0);
        }
        WaitUntilStoredPast(file, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status)) << "the stores ended before the kill";

        const int round = RoundOfCompleteStore(file);
        EXPECT_GE(round, 0) << "after " << delayMs << " ms:\n" << ReadBytes(file);
        // The next store still works, whatever the kill left behind.
        StoreSevenSettings(file, 2000);
        EXPECT_EQ(RoundOfCompleteStore(file), 2000);
    }
}

TEST(IniStoreSafety, TwoProcessesStoringAtOnceLoseNoKey) {
    TTempFolder folder;
    const std::u16string file = folder.File("Brevgluggen.INI");
    constexpr int StoresEach = 500;
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    const auto storer = [&](char16_t prefix) {
        return [&file, prefix] {
            for (int i = 0; i < StoresEach; ++i)
                WriteIniString(u"Main", std::u16string(1, prefix) + IntToText(i), IntToText(i), file);
        };
    };
    const pid_t first = ForkStorer(start, storer(u'A'));
    const pid_t second = ForkStorer(start, storer(u'B'));
    close(start[0]);
    close(start[1]);
    for (pid_t child : {first, second}) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    int lost = 0;
    for (char16_t prefix : {u'A', u'B'})
        for (int i = 0; i < StoresEach; ++i)
            if (Value(file, std::u16string(1, prefix) + IntToText(i)) != IntToText(i))
                ++lost;
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(EntriesIn(folder.Path()), 1u) << "no file left beside the settings";
}

TEST(IniStoreSafety, ReadOnlyFileStaysByteForByteUnchanged) {
    TTempFolder folder;
    const std::u16string file = folder.File("Brevgluggen.INI");
    const std::string original = "; mine\n[Main]\nPort=995\n";
    WriteBytes(file, original);
    chmod(TextToUtf8(file).c_str(), 0444);

    StoreSevenSettings(file, 1); // swallows every failure
    EXPECT_THROW(WritePrivateProfileString(u"Main", u"Port", u"1", file), EOSError);

    EXPECT_EQ(ReadBytes(file), original);
    EXPECT_EQ(EntriesIn(folder.Path()), 1u);
    EXPECT_EQ(ReadIniString(u"Main", u"Port", u"110", file), u"995");
}

TEST(IniStoreSafety, FileOrFolderWithoutWriteAccessIsLeftUntouched) {
    TTempFolder folder;
    const fs::path locked = folder.Path() / "locked";
    fs::create_directory(locked);
    const std::u16string existing = Utf8ToText((locked / "Existing.INI").string());
    const std::u16string absent = Utf8ToText((locked / "Absent.INI").string());
    const std::u16string othersFile = folder.File("Others.INI");
    WriteBytes(existing, "[Main]\nPort=995\n");
    WriteBytes(othersFile, "[Main]\nPort=995\n");
    chmod(TextToUtf8(existing).c_str(), 0666);
    chmod(TextToUtf8(othersFile).c_str(), 0644);
    chmod(locked.c_str(), 0555);

    RunUnprivileged([&] {
        StoreSevenSettings(existing, 1);
        StoreSevenSettings(absent, 1);
        if (geteuid() != getuid() || getuid() != 0) // a file of another user, when there is one
            StoreSevenSettings(othersFile, 1);
        return std::string();
    });

    EXPECT_EQ(ReadBytes(existing), "[Main]\nPort=995\n");
    EXPECT_FALSE(Exists(absent));
    EXPECT_EQ(EntriesIn(locked), 1u);
    EXPECT_EQ(ReadBytes(othersFile), "[Main]\nPort=995\n");
}

TEST(IniStoreSafety, StoreThroughASymbolicLinkUpdatesItsTarget) {
    TTempFolder folder;
    const std::u16string target = folder.File("real.INI");
    const std::u16string link = folder.File("Brevgluggen.INI");
    WriteBytes(target, "[Main]\n");
    fs::create_symlink(TextToUtf8(target), TextToUtf8(link));

    WriteIniString(u"Main", u"Port", u"995", link);

    EXPECT_TRUE(fs::is_symlink(TextToUtf8(link)));
    EXPECT_EQ(ReadBytes(target), "[Main]\nPort=995\n");
}

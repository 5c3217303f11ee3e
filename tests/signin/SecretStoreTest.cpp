// The secret stores, run by private_secret_service.sh inside a private session bus whose Secret
// Service is in one state per run (BG_SECRET_SERVICE): the token goes to the keyring where it
// answers (unlocked through its prompt where it is locked), to the owner-only file where there is
// none or it stays locked, and nowhere when it does not answer.
#include "signin/SecretStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "tests/support/TemporaryFolder.h"

namespace {

using Keyring = KeyringOrFile::Keyring;

struct KeyringCase {
    const char* kind;
    Keyring state; // after a write
    bool inFile;   // the token went to the file
    bool noAnswer; // every call raises ESecretStoreNoAnswer
};

const KeyringCase Cases[] = {
    {"keyring", Keyring::Answered, false, false},      {"locked", Keyring::StayedLocked, true, false},
    {"prompted", Keyring::Answered, false, false}, // unlocked through the prompt
    {"nodefault", Keyring::StayedLocked, true, false}, {"none", Keyring::Missing, true, false},
    {"nolibrary", Keyring::Missing, true, false},      {"stopped", Keyring::NoAnswer, false, true},
};

const KeyringCase* CurrentCase() {
    const char* kind = std::getenv("BG_SECRET_SERVICE");
    for (const KeyringCase& row : Cases)
        if (kind && std::string(kind) == row.kind)
            return &row;
    return nullptr;
}

const std::u16string Entry = u"Brevgluggen:u@pop.example.org";

void RoundTrip(SecretStore& store) {
    store.Erase(Entry); // nothing there yet: no fault
    EXPECT_EQ(store.Read(Entry), std::nullopt);
    store.Write(Entry, "first");
    store.Write(Entry, "rotated");
    store.Write(u"Brevgluggen:other@pop.example.org", "other");
    EXPECT_EQ(store.Read(Entry), "rotated");
    store.Erase(Entry);
    EXPECT_EQ(store.Read(Entry), std::nullopt);
    EXPECT_EQ(store.Read(u"Brevgluggen:other@pop.example.org"), "other");
    store.Erase(u"Brevgluggen:other@pop.example.org");
}

} // namespace

TEST(SecretStore, TheKeyringWhereItAnswersTheFileWhereThereIsNoneOrItStaysLocked) {
    const KeyringCase* row = CurrentCase();
    if (!row)
        GTEST_SKIP() << "runs inside private_secret_service.sh";
    if (std::string(row->kind) == "nolibrary")
        SetSecretLibraryForTesting("libsecret-missing.so.0");
    TemporaryFolder folder("bg-secret-file");
    const auto file = folder.Path() / "brevgluggen.token";
    KeyringOrFile store(folder.Path().u16string());
    const auto started = std::chrono::steady_clock::now();

    if (row->noAnswer) {
        // A token may be in the keyring that does not answer: no copy goes anywhere else.
        EXPECT_THROW(store.Write(Entry, "kept"), ESecretStoreNoAnswer);
        EXPECT_THROW(store.Read(Entry), ESecretStoreNoAnswer);
        EXPECT_EQ(store.State(), Keyring::NoAnswer);
        EXPECT_FALSE(std::filesystem::exists(file));
        std::printf("three calls to a stopped keyring: %.1f s\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        return;
    }
    RoundTrip(store);
    EXPECT_FALSE(std::filesystem::exists(file));
    store.Write(Entry, "kept");
    EXPECT_EQ(store.State(), row->state);
    ASSERT_EQ(std::filesystem::exists(file), row->inFile);
    EXPECT_EQ(store.Where(), row->inFile ? file.u16string() : u"Secret Service");
    if (row->inFile) {
        struct stat status {};
        ASSERT_EQ(stat(file.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);
    }
    // A new store (a new run) finds the token where it was kept.
    KeyringOrFile again(folder.Path().u16string());
    EXPECT_EQ(again.Read(Entry), "kept");
    again.Erase(Entry);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(again.Read(Entry), std::nullopt);
}

// The token file is the user's own plain file, narrowed to owner-only before it is read; a link
// at its place is not followed and nothing planted there is read or left waiting on.
TEST(SecretFile, ReadsOnlyTheUsersOwnPlainFileNarrowedFirst) {
    TemporaryFolder folder("bg-secret-file-planted");
    const std::filesystem::path file = folder.Path() / "brevgluggen.token";
    const std::filesystem::path elsewhere = folder.Path() / "elsewhere";
    const std::string line = "ZQ== c2VjcmV0\n"; // "e" -> "secret"
    const struct {
        const char* name;
        std::function<bool()> plant; // false: cannot be planted here
        bool refused;
    } cases[] = {
        {"wide rights",
         [&] {
             std::ofstream(file) << line;
             return chmod(file.c_str(), 0644) == 0;
         },
         false},
        {"link",
         [&] {
             std::ofstream(elsewhere) << line;
             std::filesystem::create_symlink(elsewhere, file);
             return true;
         },
         true},
        {"pipe", [&] { return mkfifo(file.c_str(), 0600) == 0; }, true},
        {"another user's",
         [&] {
             std::ofstream(file) << line;
             return chown(file.c_str(), 65534, 65534) == 0;
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(file);
        std::filesystem::remove_all(elsewhere);
        if (!c.plant())
            continue;
        auto store = OpenSecretFile(folder.Path().u16string());
        if (!c.refused) {
            EXPECT_EQ(store->Read(u"e"), "secret");
            struct stat status {};
            ASSERT_EQ(lstat(file.c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 0777, 0600u);
            continue;
        }
        try {
            store->Read(u"e");
            ADD_FAILURE() << "read";
        } catch (const ESecretStoreError& refused) {
            EXPECT_EQ(refused.Message().rfind(u"Refused " + file.u16string() + u": it ", 0), 0u)
                << refused.what();
        }
    }
}

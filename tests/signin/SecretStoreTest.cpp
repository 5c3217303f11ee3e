// The secret stores, run by private_secret_service.sh inside a private session bus whose Secret
// Service is in one state per run (BG_SECRET_SERVICE): the token goes to the keyring where it
// answers (unlocked through its prompt where it is locked), to the owner-only file where there is
// none or it stays locked, and nowhere when it does not answer.
#include "signin/SecretStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
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

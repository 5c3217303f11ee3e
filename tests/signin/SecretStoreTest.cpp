// The secret stores, run by private_secret_service.sh inside a private session bus: with an
// unlocked gnome-keyring ("keyring"), or with no Secret Service at all ("none").
#include "signin/SecretStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "tests/support/TemporaryFolder.h"

namespace {
std::string Bus() {
    const char* bus = std::getenv("BG_SECRET_SERVICE");
    return bus ? bus : "";
}

void RoundTrip(SecretStore& store) {
    const std::u16string entry = u"Brevgluggen:u@pop.example.org";
    store.Erase(entry); // nothing there yet: no fault
    EXPECT_EQ(store.Read(entry), std::nullopt);
    store.Write(entry, "first");
    store.Write(entry, "rotated");
    store.Write(u"Brevgluggen:other@pop.example.org", "other");
    EXPECT_EQ(store.Read(entry), "rotated");
    store.Erase(entry);
    EXPECT_EQ(store.Read(entry), std::nullopt);
    EXPECT_EQ(store.Read(u"Brevgluggen:other@pop.example.org"), "other");
}
} // namespace

TEST(SecretStore, SecretServiceKeepsTheTokenWhenOneAnswers) {
    if (Bus() != "keyring")
        GTEST_SKIP() << "runs inside private_secret_service.sh keyring";
    auto store = OpenSystemSecretStore();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->Where(), u"Secret Service");
    RoundTrip(*store);
}

TEST(SecretStore, OwnerOnlyFileWhenNoSecretServiceAnswers) {
    if (Bus() != "none")
        GTEST_SKIP() << "runs inside private_secret_service.sh none";
    EXPECT_FALSE(OpenSystemSecretStore());
    TemporaryFolder folder("bg-secret-file");
    auto store = OpenSecretFile(folder.Path().u16string());
    RoundTrip(*store);
    struct stat status {};
    ASSERT_EQ(stat((folder.Path() / "brevgluggen.token").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(store->Where(), (folder.Path() / "brevgluggen.token").u16string());
    store->Erase(u"Brevgluggen:other@pop.example.org");
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "brevgluggen.token"));
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

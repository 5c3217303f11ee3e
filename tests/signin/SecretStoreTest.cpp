// The secret stores, run by private_secret_service.sh inside a private session bus: with an
// unlocked gnome-keyring ("keyring"), or with no Secret Service at all ("none").
#include "signin/SecretStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
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

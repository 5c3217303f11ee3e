// Work off the user-interface thread: a completion runs on that thread and never after its owner
// is gone; a check whose token must first be refreshed at a token endpoint that stalls leaves the
// tray's thread answering throughout, then shows the endpoint's failure.

#include <atomic>
#include <chrono>
#include <thread>

#include "base/Integers.h"
#include "shell/BackEnd.h"
#include "shell/BackgroundWork.h"
#include "signin/SecretStore.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/LoopbackSockets.h"

namespace {

using Clock = std::chrono::steady_clock;

// Handles events until done() or the limit.
template <class Done> void PumpUntil(Done done, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto end = Clock::now() + limit;
    while (!done() && Clock::now() < end) {
        Application->ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// From a thread of its own, asks the user-interface thread for a call every 50 ms and records
// the longest time one took to arrive.
class ResponsivenessProbe {
public:
    ResponsivenessProbe()
        : thread_([this] {
              while (!stop_) {
                  const auto sent = Clock::now();
                  CallOnUserInterfaceThread([this, sent] {
                      const auto took =
                          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
                      longest_ = std::max<int64_t>(longest_, took.count());
                      ++answered_;
                  });
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
              }
          }) {}
    ~ResponsivenessProbe() {
        stop_ = true;
        thread_.join();
    }
    int64_t LongestMs() const { return longest_; }
    int Answered() const { return answered_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> longest_{0};
    std::atomic<int> answered_{0};
    std::thread thread_;
};

} // namespace

TEST(BackgroundWork, CompletesOnTheUserInterfaceThreadAndNeverAfterItsOwnerIsGone) {
    const std::thread::id uiThread = std::this_thread::get_id();
    std::thread::id workThread, completionThread;
    std::string failure;
    {
        BackgroundWork work;
        work.Run(
            [&] {
                workThread = std::this_thread::get_id();
                throw Exception(std::string_view("refused"));
            },
            [&](std::exception_ptr thrown) {
                completionThread = std::this_thread::get_id();
                try {
                    std::rethrow_exception(thrown);
                } catch (const Exception& error) {
                    failure = error.what();
                }
            });
        EXPECT_EQ(work.Running(), 1u);
        PumpUntil([&] { return work.Running() == 0; });
    }
    EXPECT_NE(workThread, uiThread);
    EXPECT_EQ(completionThread, uiThread);
    EXPECT_EQ(failure, "refused");

    auto release = std::make_shared<std::atomic<bool>>(false);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    bool completed = false;
    {
        BackgroundWork work;
        work.Run(
            [release, finished] {
                while (!*release)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                *finished = true;
            },
            [&](std::exception_ptr) { completed = true; });
    } // gone while the work still runs
    *release = true;
    PumpUntil([&] { return finished->load(); });
    Application->ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Application->ProcessMessages();
    EXPECT_FALSE(completed);
}

class TokenWorkTest : public MainWindowTest {
protected:
    static std::filesystem::path SettingsFolder() {
        return std::filesystem::path(TextToUtf8(SettingsFilePath())).parent_path();
    }
    void SetUp() override {
        MainWindowTest::SetUp();
        // No Secret Service: the refresh token is read from the file beside the settings.
        for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"})
            unsetenv(name);
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        std::filesystem::remove(SettingsFolder() / "brevgluggen.token");
    }
};

TEST_F(TokenWorkTest, AStalledTokenEndpointLeavesTheTrayAnsweringThenTheCheckShowsItsFailure) {
    uint16_t port = 0;
    TestSocket endpoint = OpenLoopbackListener(8, port); // takes the connection, never answers
    CreateResidentWindow();
    window->txtPassword.SetText(u"");
    window->txtPort.SetText(u"995");
    window->cbTLS.SetChecked(true);
    window->cbOAuth.SetChecked(true);
    window->cmbOAuthProvider.SetItemIndex(opCustom);
    window->txtOAuthClientId.SetText(u"client");
    window->txtOAuthAuthorizeUrl.SetText(u"https://127.0.0.1/authorize");
    window->txtOAuthTokenUrl.SetText(u"https://127.0.0.1:" + IntToText(port) + u"/token");
    window->txtOAuthScope.SetText(u"pop3");
    OpenSecretFile(SettingsFolder().u16string())
        ->Write(TokenEntryName(u"127.0.0.1", u"anna"),
                StoredTokenRecord(window->CurrentOAuthClient(), "refresh-token"));
    pop3->count = 4;

    window->StoreSettings();
    ResponsivenessProbe probe;
    window->TimerMain.Tick(); // the refresh before the check
    const int answeredBefore = probe.Answered();
    PumpUntil([] { return false; }, std::chrono::seconds(2));
    EXPECT_TRUE(window->TokenWorkRunning()) << TextToUtf8(Hint());
    EXPECT_EQ(pop3->connects, 0);
    CloseTestSocket(endpoint); // the endpoint gives up
    PumpUntil([&] { return !window->TokenWorkRunning(); });
    EXPECT_GT(probe.Answered(), answeredBefore + 20);
    EXPECT_LT(probe.LongestMs(), 500);
    std::printf("longest wait of the user-interface thread: %lld ms\n",
                static_cast<long long>(probe.LongestMs()));
    EXPECT_EQ(pop3->connects, 0);
    EXPECT_NE(Hint().find(u"\nCheck failed: "), std::u16string::npos) << TextToUtf8(Hint());
}

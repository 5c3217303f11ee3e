// The mail program launcher: web addresses through a recording "xdg-open" first on PATH, and
// real programs started in this program's folder without a zombie left behind.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "shell/Launch.h"
#include "tests/app/MainWindowFixture.h"

namespace fs = std::filesystem;

namespace {

// Generous: the machine is shared with other builds.
constexpr auto FileWaitLimit = std::chrono::seconds(20);
// Time for a wrongly started recorder to write, once the expected one has.
constexpr auto StragglerGrace = std::chrono::milliseconds(300);

void WriteExecutable(const fs::path& path, const std::string& content) {
    std::ofstream(path) << content;
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// True once the file holds at least `lines` complete lines.
bool WaitForLines(const fs::path& path, size_t lines) {
    const auto deadline = std::chrono::steady_clock::now() + FileWaitLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (Lines(ReadFile(path)).size() >= lines)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool NoChildLeft() {
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

} // namespace

class LauncherTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        folder_ = fs::temp_directory_path() / ("bg_launcher_" + std::to_string(getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "bin");
        openedLog = folder_ / "opened.log";
        WriteExecutable(folder_ / "bin" / "xdg-open",
                        "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + openedLog.string() + "'\n");
        const char* path = std::getenv("PATH");
        savedPath_ = path ? path : "";
        setenv("PATH", ((folder_ / "bin").string() + ":" + savedPath_).c_str(), 1);
        savedFolder_ = fs::current_path();
        CreateWindow();
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        fs::current_path(savedFolder_);
        setenv("PATH", savedPath_.c_str(), 1);
        fs::remove_all(folder_);
    }

    void DoubleClickWith(bool webMode, std::u16string_view path) {
        window->cbWWW.SetChecked(webMode);
        window->txtPathToClient.SetText(path);
        window->TrayIconMain.DblClick();
    }

    // The addresses handed to the desktop, in the order the recorders wrote them.
    std::vector<std::string> Opened() const { return Lines(ReadFile(openedLog)); }

    fs::path Folder() const { return folder_; }

    fs::path openedLog;

private:
    fs::path folder_;
    std::string savedPath_;
    fs::path savedFolder_;
};

TEST_F(LauncherTest, WebAddressesWithEitherSchemeInAnyCaseAreHandedOverUnchanged) {
    DoubleClickWith(true, u"HTTPS://Mail.Example.ORG/Inbox?user=Anna");
    ASSERT_TRUE(WaitForLines(openedLog, 1));
    DoubleClickWith(true, u"http://");
    ASSERT_TRUE(WaitForLines(openedLog, 2));
    EXPECT_EQ(Opened(), (std::vector<std::string>{"HTTPS://Mail.Example.ORG/Inbox?user=Anna", "http://"}));
    EXPECT_TRUE(NoChildLeft());
    EXPECT_TRUE(errors.empty());
}

TEST_F(LauncherTest, TextsThatAreNoWebAddressOrNoProgramStartNothing) {
    for (std::u16string_view text :
         {u"mail.example.org", u"ftp://mail.example.org", u"http:/", u"httpx://a", u""})
        DoubleClickWith(true, text);
    DoubleClickWith(false, u"http://mail.example.org"); // program mode: no such file
    DoubleClickWith(false, Utf8ToText(Folder().string()));
    DoubleClickWith(false, Utf8ToText((Folder() / "gone").string()));
    DoubleClickWith(false, u"");

    DoubleClickWith(true, u"https://sentinel");
    ASSERT_TRUE(WaitForLines(openedLog, 1));
    std::this_thread::sleep_for(StragglerGrace);
    EXPECT_EQ(Opened(), std::vector<std::string>{"https://sentinel"});
    EXPECT_TRUE(errors.empty());
}

TEST_F(LauncherTest, ProgramStartsWithoutArgumentsInOurFolderAndLeavesNoZombie) {
    fs::create_directories(Folder() / "mail program");
    fs::create_directories(Folder() / "our folder");
    const fs::path report = Folder() / "report.txt";
    const fs::path program = Folder() / "mail program" / "mailer";
    WriteExecutable(program, "#!/bin/sh\nprintf '%s\\n%s\\n%s\\n' \"$#\" \"$BG_LAUNCH_MARK\" \"$(pwd)\" > '" +
                                 report.string() + ".part'\nmv '" + report.string() + ".part' '" +
                                 report.string() + "'\n");
    fs::current_path(Folder() / "our folder");
    setenv("BG_LAUNCH_MARK", "inherited", 1);

    DoubleClickWith(false, Utf8ToText(program.string()));
    unsetenv("BG_LAUNCH_MARK");
    ASSERT_TRUE(WaitForLines(report, 3));
    EXPECT_EQ(Lines(ReadFile(report)),
              (std::vector<std::string>{"0", "inherited", (Folder() / "our folder").string()}));
    EXPECT_TRUE(NoChildLeft());
    EXPECT_TRUE(Opened().empty());
}

TEST_F(LauncherTest, FilesThatCannotRunAreRefusedQuietly) {
    const fs::path text = Folder() / "notes.txt";
    std::ofstream(text) << "not a program\n";
    const fs::path garbage = Folder() / "garbage";
    WriteExecutable(garbage, std::string("\x7f"
                                         "ELF"
                                         "\x01\x02"
                                         "garbage"));

    EXPECT_FALSE(StartDetachedProcess(Utf8ToText(text.string())));
    EXPECT_FALSE(StartDetachedProcess(Utf8ToText(garbage.string())));
    EXPECT_FALSE(StartDetachedProcess(Utf8ToText((Folder() / "gone").string())));
    EXPECT_TRUE(StartDetachedProcess(u"/bin/true"));
    DoubleClickWith(false, Utf8ToText(text.string()));
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(NoChildLeft());
}

TEST_F(LauncherTest, NoOpenerOnPathIsAQuietFailure) {
    setenv("PATH", (Folder() / "empty").string().c_str(), 1);
    EXPECT_FALSE(ShellOpenDocument(u"https://mail.example.org"));
    DoubleClickWith(true, u"https://mail.example.org");
    EXPECT_TRUE(errors.empty());
}

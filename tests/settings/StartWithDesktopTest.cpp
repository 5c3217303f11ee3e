// The start with the desktop session: the entry written for the running executable, read back,
// removed; and entries written by hand that start this program or another.

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "base/Exceptions.h"
#include "toolz/SettingsLocation.h"
#include "toolz/StartWithDesktop.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fstream>
#include <unistd.h>

#include "tests/support/TemporaryFolder.h"
#endif

namespace {

#ifdef _WIN32

constexpr wchar_t RunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// A value name of this run alone, removed again at the end.
class StartEntry : public testing::Test {
protected:
    void TearDown() override { RegDeleteKeyValueW(HKEY_CURRENT_USER, RunKey, Wide(name).c_str()); }

    static std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
    void WriteByHand(const std::u16string& command) {
        const std::wstring value = Wide(command);
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, RunKey, Wide(name).c_str(), REG_SZ, value.c_str(),
                                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    std::u16string Stored() {
        wchar_t value[1024] = {};
        DWORD size = sizeof value - sizeof(wchar_t);
        if (RegGetValueW(HKEY_CURRENT_USER, RunKey, Wide(name).c_str(), RRF_RT_REG_SZ, nullptr, value,
                         &size) != ERROR_SUCCESS)
            return u"(none)";
        return std::u16string(value, value + std::wcslen(value));
    }

    const std::u16string name = u"brevgluggen-test-" + Utf8ToText(std::to_string(GetCurrentProcessId()));
};

#else

// An autostart folder of this test alone ($XDG_CONFIG_HOME/autostart).
class StartEntry : public testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("XDG_CONFIG_HOME"))
            saved_ = old;
        setenv("XDG_CONFIG_HOME", config_.Path().c_str(), 1);
    }
    void TearDown() override {
        if (saved_.empty())
            unsetenv("XDG_CONFIG_HOME");
        else
            setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
    }

    std::filesystem::path EntryPath() const {
        return config_.Path() / "autostart" / (TextToUtf8(name) + ".desktop");
    }
    void WriteByHand(const std::string& lines) {
        std::filesystem::create_directories(EntryPath().parent_path());
        std::ofstream(EntryPath()) << lines;
    }
    std::u16string Stored() {
        std::ifstream entry(EntryPath());
        if (!entry)
            return u"(none)";
        for (std::string line; std::getline(entry, line);)
            if (line.rfind("Exec=", 0) == 0)
                return Utf8ToText(line.substr(5));
        return u"(no Exec)";
    }

    const std::u16string name = u"brevgluggen";
    TemporaryFolder config_{"bg_autostart"};
    std::string saved_;
};

#endif

} // namespace

TEST_F(StartEntry, TickingWritesTheRunningExecutableAndUntickingRemovesIt) {
    EXPECT_FALSE(StartsWithDesktop(name));
    SetStartsWithDesktop(true, name);
    EXPECT_TRUE(StartsWithDesktop(name));
    EXPECT_EQ(Stored(), u"\"" + RunningExecutablePath() + u"\"");
    SetStartsWithDesktop(true, name); // again: the same entry
    EXPECT_TRUE(StartsWithDesktop(name));
    SetStartsWithDesktop(false, name);
    EXPECT_FALSE(StartsWithDesktop(name));
    EXPECT_EQ(Stored(), u"(none)");
    EXPECT_NO_THROW(SetStartsWithDesktop(false, name)) << "nothing to remove is no failure";
}

#ifdef _WIN32

TEST_F(StartEntry, HandWrittenValuesCountOnlyWhenTheyStartThisExecutable) {
    const std::u16string self = RunningExecutablePath();
    const struct {
        std::u16string command;
        bool starts;
    } cases[] = {
        {u"\"" + self + u"\" /ENGLISH", true},
        {self, true},
        {u"\"C:\\Other\\brevgluggen.exe\"", false},
        {u"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(TextToUtf8(c.command));
        WriteByHand(c.command);
        EXPECT_EQ(StartsWithDesktop(name), c.starts);
    }
}

#else

TEST_F(StartEntry, HandWrittenEntriesCountOnlyWhenTheyStartThisExecutable) {
    // The executable under a name that needs quoting and escaping in an entry.
    const std::filesystem::path odd = config_.Path() / "a \"b\" $c %d\\e";
    std::filesystem::create_directory(odd);
    std::filesystem::create_symlink(TextToUtf8(RunningExecutablePath()), odd / "prog");
    std::filesystem::create_symlink(TextToUtf8(RunningExecutablePath()), config_.Path() / "bg-on-path");
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (config_.Path().string() + ":" + path).c_str(), 1);
    const std::string quoted =
        R"(Exec=")" + config_.Path().string() + R"(/a \\"b\\" \\$c %%d\\\\e/prog" /ENGLISH)";
    const struct {
        std::string lines;
        bool starts;
    } cases[] = {
        {"[Desktop Entry]\n" + quoted + "\n", true},
        {"[Desktop Entry]\nExec=bg-on-path\n", true},
        {"[Desktop Entry]\nExec=bg-on-path\nHidden=true\n", false},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\nExec=bg-on-path\n", false},
        {"[Other Group]\nExec=bg-on-path\n", false},
        {"[Desktop Entry]\nExec=/usr/bin/true\n", false},
        {"[Desktop Entry]\nExec=no-such-program-here\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        WriteByHand(c.lines);
        EXPECT_EQ(StartsWithDesktop(name), c.starts);
    }
    setenv("PATH", path.c_str(), 1);
}

#endif

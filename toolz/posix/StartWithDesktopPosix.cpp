// The start with the desktop session on XDG desktops: a desktop entry in the autostart folder.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <unistd.h>

#include "base/Exceptions.h"
#include "toolz/SettingsLocation.h"
#include "toolz/StartWithDesktop.h"

namespace fs = std::filesystem;

namespace {

fs::path AutostartFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/')
        return fs::path(config) / "autostart";
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return fs::path(home) / ".config/autostart";
    if (const passwd* user = getpwuid(getuid()); user != nullptr && user->pw_dir != nullptr)
        return fs::path(user->pw_dir) / ".config/autostart";
    throw Exception(u"No home folder for the autostart entry.");
}

fs::path EntryPath(std::u16string_view name) {
    return AutostartFolder() / (TextToUtf8(name) + ".desktop");
}

[[noreturn]] void Fail(const std::string& action, const fs::path& path, int error) {
    throw EOSError(error, Utf8ToText(action + " " + path.string() + ": " + std::strerror(error)));
}

// The executable as one quoted argument of Exec, then written as a desktop-entry string value.
std::string ExecValue(const std::string& executable) {
    std::string quoted = "\"";
    for (const char c : executable) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            throw Exception(
                u"The program's path holds a control character: no autostart entry can start it.");
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c == '%' ? std::string("%%") : std::string(1, c);
    }
    quoted += '"';
    std::string value;
    for (const char c : quoted)
        value += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return value;
}

// A desktop-entry string value as it reads: "\s", "\n", "\t", "\r" and "\\" undone.
std::string StringValue(std::string_view raw) {
    std::string value;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            value += raw[i];
            continue;
        }
        const char next = raw[++i];
        value += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
    }
    return value;
}

// The program an Exec line starts: its first argument, quoted or not, with "%%" undone.
std::string ExecProgram(std::string_view exec) {
    std::string program;
    if (!exec.empty() && exec[0] == '"') {
        for (size_t i = 1; i < exec.size() && exec[i] != '"'; ++i)
            program += exec[i] == '\\' && i + 1 < exec.size() ? exec[++i] : exec[i];
    } else {
        program = exec.substr(0, exec.find_first_of(" \t"));
    }
    for (size_t at = program.find("%%"); at != std::string::npos; at = program.find("%%", at + 1))
        program.erase(at, 1);
    return program;
}

// A program name without a folder, as the session finds it: the first match on PATH.
fs::path ResolvedProgram(const std::string& program) {
    if (program.find('/') != std::string::npos)
        return program;
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const fs::path candidate = fs::path(folder.empty() ? "." : folder) / program;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

bool SameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return !a.empty() && !b.empty() && fs::equivalent(a, b, error);
}

} // namespace

bool StartsWithDesktop(std::u16string_view name) {
    std::ifstream entry(EntryPath(name));
    std::string line;
    std::string exec;
    bool inEntryGroup = false;
    bool hidden = false;
    while (std::getline(entry, line)) {
        if (!line.empty() && line[0] == '[') {
            inEntryGroup = line.rfind("[Desktop Entry]", 0) == 0;
            continue;
        }
        if (!inEntryGroup)
            continue;
        if (line.rfind("Exec=", 0) == 0)
            exec = StringValue(std::string_view(line).substr(5));
        else if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false")
            hidden = true;
    }
    return !hidden && SameFile(ResolvedProgram(ExecProgram(exec)), TextToUtf8(RunningExecutablePath()));
}

void SetStartsWithDesktop(bool start, std::u16string_view name) {
    const fs::path path = EntryPath(name);
    if (!start) {
        if (unlink(path.c_str()) != 0 && errno != ENOENT)
            Fail("Cannot remove", path, errno);
        return;
    }
    const std::string executable = TextToUtf8(RunningExecutablePath());
    if (executable.empty())
        throw Exception(u"The program cannot tell its own path.");
    const std::string text = "[Desktop Entry]\nType=Application\nName=Brevgluggen\nName[en]=Mailhatch\n"
                             "Comment=Shows in the notification area how many messages wait in a mailbox\n"
                             "Exec=" +
                             ExecValue(executable) +
                             "\nIcon=brevgluggen\nTerminal=false\n"
                             "X-GNOME-Autostart-enabled=true\n";
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error)
        Fail("Cannot create", path.parent_path(), error.value());
    // Written whole beside its place, then moved there: a session starting meanwhile reads
    // either the old entry or the new one.
    const fs::path draft = path.string() + ".new";
    {
        std::ofstream out(draft, std::ios::binary | std::ios::trunc);
        if (!(out << text) || !out.flush())
            Fail("Cannot write", draft, errno ? errno : EIO);
    }
    if (rename(draft.c_str(), path.c_str()) != 0) {
        const int reason = errno;
        unlink(draft.c_str());
        Fail("Cannot write", path, reason);
    }
}

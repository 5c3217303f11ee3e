#include "shell/Launch.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <linux/close_range.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "base/Text.h"

namespace {

// The first executable regular file of that name in the folders of PATH.
std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        const std::string folder = end > start ? folders.substr(start, end - start) : ".";
        const std::string candidate = folder + "/" + name;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// The new program gets a clean start: default signal handling and mask, no descriptors of
// ours besides the standard three, and a session of its own. Only calls that are safe
// between fork and exec.
[[noreturn]] void ExecInGrandchild(const char* file, char* const argv[], int errorPipe) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    setsid();
    syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC);
    execv(file, argv);
    const int error = errno;
    [[maybe_unused]] const ssize_t written = write(errorPipe, &error, sizeof error);
    _exit(127);
}

// Runs `file` with `arguments` through a short-lived middle process, so that the program is
// adopted by init at once and never waits as a zombie for us. True once the exec succeeded:
// the error pipe closes on exec without a word.
bool SpawnDetached(const std::string& file, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0)
        return false;
    const pid_t middle = fork();
    if (middle == 0) {
        close(errorPipe[0]);
        const pid_t program = fork();
        if (program == 0)
            ExecInGrandchild(file.c_str(), argv.data(), errorPipe[1]);
        if (program < 0) {
            const int error = errno;
            [[maybe_unused]] const ssize_t written = write(errorPipe[1], &error, sizeof error);
        }
        _exit(0);
    }
    close(errorPipe[1]);
    if (middle < 0) {
        close(errorPipe[0]);
        return false;
    }
    while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
    }
    int execError = 0;
    ssize_t got;
    while ((got = read(errorPipe[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
    }
    close(errorPipe[0]);
    return got == 0;
}

} // namespace

bool ShellOpenDocument(std::u16string_view document) {
    const std::string opener = FindOnPath("xdg-open");
    if (opener.empty())
        return false;
    return SpawnDetached(opener, {opener, TextToUtf8(document)});
}

bool StartDetachedProcess(std::u16string_view path) {
    const std::string file = TextToUtf8(path);
    return SpawnDetached(file, {file});
}

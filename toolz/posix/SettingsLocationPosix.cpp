// The settings file's place on POSIX systems: /proc/self/exe, and $XDG_CONFIG_HOME (else
// ~/.config) for the user's own folder; $XDG_STATE_HOME (else ~/.local/state) for the state.
#include "toolz/SettingsLocation.h"

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Text.h"

namespace {

constexpr std::string_view ConfigSubfolder = "brevgluggen";
constexpr std::string_view DeletedSuffix = " (deleted)";

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return home;
    if (const passwd* user = getpwuid(getuid()); user != nullptr && user->pw_dir != nullptr)
        return user->pw_dir;
    return {};
}

} // namespace

std::u16string RunningExecutablePath() {
    std::string path(256, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0)
            return {};
        if (static_cast<size_t>(length) < path.size()) {
            path.resize(static_cast<size_t>(length));
            break;
        }
        path.resize(path.size() * 2);
    }
    // An executable replaced on disk while it runs is reported with this suffix.
    if (path.ends_with(DeletedSuffix) && access(path.c_str(), F_OK) != 0)
        path.resize(path.size() - DeletedSuffix.size());
    return Utf8ToText(path);
}

bool PathExists(std::u16string_view path) {
    struct stat info {};
    return lstat(TextToUtf8(path).c_str(), &info) == 0;
}

bool FolderWritable(std::u16string_view folder) {
    return access(TextToUtf8(folder).c_str(), W_OK) == 0;
}

std::u16string UserSettingsFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/')
        return Utf8ToText(std::string(config) + "/" + std::string(ConfigSubfolder));
    const std::string home = HomeFolder();
    return home.empty() ? std::u16string() : Utf8ToText(home + "/.config/" + std::string(ConfigSubfolder));
}

std::u16string UserStateFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/')
        return Utf8ToText(std::string(state) + "/" + std::string(ConfigSubfolder));
    const std::string home = HomeFolder();
    return home.empty() ? std::u16string()
                        : Utf8ToText(home + "/.local/state/" + std::string(ConfigSubfolder));
}

std::u16string_view PathSeparators() {
    return u"/";
}

// The owner-only file on POSIX systems: a new file of mode 0600 (not following a link), synced, then
// renamed over the old one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Text.h"
#include "signin/OwnerOnlyFile.h"
#include "signin/SignInErrors.h"

std::optional<std::string> ReadOwnerOnlyFile(const std::u16string& path) {
    const int fd = ::open(TextToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string bytes;
    char chunk[4096];
    ssize_t count = 0;
    while ((count = ::read(fd, chunk, sizeof chunk)) > 0 && bytes.size() <= OwnerOnlyFileLimit)
        bytes.append(chunk, static_cast<size_t>(count));
    ::close(fd);
    if (count < 0 || bytes.size() > OwnerOnlyFileLimit)
        return std::nullopt;
    return bytes;
}

void ReplaceOwnerOnlyFile(const std::u16string& path, std::string_view bytes) {
    const std::string target = TextToUtf8(path);
    const std::string temporary = target + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        throw ESecretStoreError("Cannot write " + temporary + ".");
    const bool written = ::fchmod(fd, 0600) == 0 &&
                         ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                         ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        throw ESecretStoreError("Cannot write " + target + ".");
    }
}

void RemoveOwnerOnlyFile(const std::u16string& path) {
    ::unlink(TextToUtf8(path).c_str());
}

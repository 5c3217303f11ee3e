// The owner-only file on POSIX systems: a new file of mode 0600 (not following a link), synced, then
// renamed over the old one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "signin/OwnerOnlyFile.h"
#include "signin/SignInErrors.h"

void ReplaceOwnerOnlyFile(const std::filesystem::path& path, std::string_view bytes) {
    const std::string temporary = path.string() + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        throw ESecretStoreError("Cannot write " + temporary + ".");
    const bool written = ::fchmod(fd, 0600) == 0 &&
                         ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                         ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        throw ESecretStoreError("Cannot write " + path.string() + ".");
    }
}

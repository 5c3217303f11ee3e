// The owner-only file on POSIX systems: a new file of mode 0600 (not following a link), synced, then
// renamed over the old one; read only when it is the user's own plain file, narrowed to 0600 first.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Text.h"
#include "signin/OwnerOnlyFile.h"
#include "signin/SignInErrors.h"

namespace {

[[noreturn]] void Refuse(const std::string& path, const char* why) {
    throw ESecretStoreError(Utf8ToText("Refused " + path + ": " + why + "."));
}

// The bytes of an open file, nothing past the limit.
std::optional<std::string> ReadAll(int fd) {
    std::string bytes;
    char chunk[4096];
    ssize_t count = 0;
    while ((count = ::read(fd, chunk, sizeof chunk)) > 0 && bytes.size() <= OwnerOnlyFileLimit)
        bytes.append(chunk, static_cast<size_t>(count));
    if (count < 0 || bytes.size() > OwnerOnlyFileLimit)
        return std::nullopt;
    return bytes;
}

} // namespace

// O_NONBLOCK: a pipe planted at the file's place must not hold the open.
std::optional<std::string> ReadOwnerOnlyFile(const std::u16string& path) {
    const std::string file = TextToUtf8(path);
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        Refuse(file, errno == ELOOP ? "it is a link" : "it cannot be opened");
    }
    struct stat status {};
    const char* refusal = nullptr;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        refusal = "it is not a plain file";
    else if (status.st_uid != ::geteuid())
        refusal = "it belongs to another user";
    else if ((status.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0)
        refusal = "it cannot be made readable by you alone";
    const std::optional<std::string> bytes = refusal ? std::nullopt : ReadAll(fd);
    ::close(fd);
    if (refusal)
        Refuse(file, refusal);
    return bytes;
}

void ReplaceOwnerOnlyFile(const std::u16string& path, std::string_view bytes) {
    const std::string target = TextToUtf8(path);
    const std::string temporary = target + ".new";
    // A new file, never one planted at the temporary name (a link, or another name of a file).
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
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

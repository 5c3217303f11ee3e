#include "toolz/SettingsFileStore.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Exceptions.h"
#include "base/Text.h"

namespace {

constexpr mode_t NewFolderMode = 0700;

[[noreturn]] void RaiseOSError(std::string_view action, const std::string& path, int error) {
    throw EOSError(error, Utf8ToText(std::string(action) + " " + path + ": " + std::strerror(error)));
}

// Closes its descriptor (and so drops any lock on it) when it goes out of scope.
class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd) : fd_(fd) {}
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    ~TFileDescriptor() {
        if (fd_ >= 0)
            close(fd_);
    }
    int Get() const { return fd_; }

private:
    int fd_;
};

std::string ReadAll(int fd, const std::string& path) {
    std::string content;
    char chunk[8192];
    for (;;) {
        const ssize_t count = read(fd, chunk, sizeof chunk);
        if (count == 0)
            return content;
        if (count < 0 && errno != EINTR)
            RaiseOSError("Cannot read", path, errno);
        if (count > 0)
            content.append(chunk, static_cast<size_t>(count));
    }
}

void WriteAll(int fd, std::string_view bytes, const std::string& path) {
    while (!bytes.empty()) {
        const ssize_t count = write(fd, bytes.data(), bytes.size());
        if (count < 0 && errno != EINTR)
            RaiseOSError("Cannot write", path, errno);
        if (count > 0)
            bytes.remove_prefix(static_cast<size_t>(count));
    }
}

void CreateFolders(const std::string& folder) {
    struct stat info {};
    if (folder.empty() || stat(folder.c_str(), &info) == 0)
        return;
    CreateFolders(FolderOf(folder));
    if (mkdir(folder.c_str(), NewFolderMode) != 0 && errno != EEXIST)
        RaiseOSError("Cannot create folder", folder, errno);
}

// A settings file reached through a symbolic link is updated where the link points, so the
// link itself survives the rename that replaces the file.
std::string ResolveLink(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char* target = realpath(path.c_str(), nullptr);
    if (target == nullptr)
        return path;
    std::string resolved(target);
    std::free(target);
    return resolved;
}

bool PathNamesFile(const std::string& path, int fd) {
    struct stat atPath {};
    struct stat opened {};
    return stat(path.c_str(), &atPath) == 0 && fstat(fd, &opened) == 0 && atPath.st_dev == opened.st_dev &&
           atPath.st_ino == opened.st_ino;
}

// Opens the file (creating it empty when missing) and takes its exclusive lock. A writer that
// finished meanwhile has renamed a new file over the path, so the lock only counts while the
// path still names the locked file; otherwise it tries again with the new one.
int OpenLocked(const std::string& path) {
    for (;;) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd < 0)
            RaiseOSError("Cannot open", path, errno);
        int locked;
        while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            const int error = errno;
            close(fd);
            RaiseOSError("Cannot lock", path, error);
        }
        if (PathNamesFile(path, fd))
            return fd;
        close(fd);
    }
}

// A file without any write permission counts as read-only for every user, root included.
void RaiseIfReadOnly(int fd, const std::string& path) {
    struct stat info {};
    if (fstat(fd, &info) != 0)
        RaiseOSError("Cannot examine", path, errno);
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        RaiseOSError("Read-only file", path, EACCES);
}

mode_t PermissionsOf(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 ? (info.st_mode & 07777) : (S_IRUSR | S_IWUSR);
}

// Writes the bytes to a new file in the same folder, flushes it to disk and renames it over the
// path, so the path always names either the old or the new content in full.
void ReplaceFile(const std::string& path, std::string_view bytes, mode_t permissions) {
    std::string temporary = path + ".XXXXXX";
    const TFileDescriptor file(mkostemp(temporary.data(), O_CLOEXEC));
    if (file.Get() < 0)
        RaiseOSError("Cannot create a file beside", path, errno);
    try {
        if (fchmod(file.Get(), permissions) != 0)
            RaiseOSError("Cannot set permissions of", temporary, errno);
        WriteAll(file.Get(), bytes, temporary);
        if (fsync(file.Get()) != 0)
            RaiseOSError("Cannot flush", temporary, errno);
        if (rename(temporary.c_str(), path.c_str()) != 0)
            RaiseOSError("Cannot replace", path, errno);
    } catch (...) {
        unlink(temporary.c_str());
        throw;
    }
}

} // namespace

std::optional<std::string> ReadFileIfPresent(const std::string& path) {
    const TFileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        RaiseOSError("Cannot open", path, errno);
    }
    return ReadAll(file.Get(), path);
}

void UpdateFileUnderLock(const std::string& path,
                         const std::function<std::string(const std::string&)>& edit) {
    const std::string target = ResolveLink(path);
    CreateFolders(FolderOf(target));
    const TFileDescriptor locked(OpenLocked(target));
    RaiseIfReadOnly(locked.Get(), target);
    const std::string before = ReadAll(locked.Get(), target);
    const std::string after = edit(before);
    if (after != before)
        ReplaceFile(target, after, PermissionsOf(locked.Get()));
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

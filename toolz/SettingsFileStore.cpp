#include "toolz/SettingsFileStore.h"

#include <cerrno>
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
// Links followed to find the file a store writes; the system's own limit for path lookups.
constexpr int MaxLinkHops = 40;

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

// Descriptors are opened without blocking, so that a named pipe in the file's place cannot hold
// up the open; only a regular file is then read.
void RaiseIfNotRegularFile(int fd, const std::string& path) {
    struct stat info {};
    if (fstat(fd, &info) != 0)
        RaiseOSError("Cannot examine", path, errno);
    if (!S_ISREG(info.st_mode))
        RaiseOSError("Not a regular file", path, EINVAL);
}

// The whole file, read no further than one byte past the largest size taken, so that a file
// that grows or lies about its size cannot fill the memory either.
std::string ReadAll(int fd, const std::string& path) {
    std::string content;
    std::string chunk(64 * 1024, '\0');
    for (;;) {
        const ssize_t count = read(fd, chunk.data(), chunk.size());
        if (count == 0)
            return content;
        if (count < 0 && errno != EINTR)
            RaiseOSError("Cannot read", path, errno);
        if (count > 0)
            content.append(chunk.data(), static_cast<size_t>(count));
        if (content.size() > MaxSettingsFileSize)
            RaiseOSError("Too large", path, EFBIG);
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

// The file a store writes: where the path's symbolic links lead, followed one by one with a
// relative target taken from the link's folder, so that the rename of a store replaces the
// target and keeps the link; also when the target does not exist yet.
std::string ResolveLink(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < MaxLinkHops; ++hop) {
        struct stat info {};
        if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return current;
        std::string target(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
        const ssize_t length = readlink(current.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<size_t>(length) >= target.size())
            RaiseOSError("Cannot follow the link", current, length < 0 ? errno : ENAMETOOLONG);
        target.resize(static_cast<size_t>(length));
        current = target.starts_with('/') ? target : FolderOf(current) + "/" + target;
    }
    RaiseOSError("Cannot follow the link", path, ELOOP);
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
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY,
                            S_IRUSR | S_IWUSR);
        if (fd < 0)
            RaiseOSError("Cannot open", path, errno);
        try {
            RaiseIfNotRegularFile(fd, path);
        } catch (...) {
            close(fd);
            throw;
        }
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
    const TFileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.Get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        RaiseOSError("Cannot open", path, errno);
    }
    RaiseIfNotRegularFile(file.Get(), path);
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
    if (after.size() > MaxSettingsFileSize)
        RaiseOSError("Too large", target, EFBIG);
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

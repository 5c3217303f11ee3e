#pragma once
// A fresh folder under the system's temporary folder, for tests and benchmarks, removed with
// everything in it at the end (also files and folders a test made read-only).

#include <filesystem>
#include <string>

class TemporaryFolder {
public:
    // The folder is named "<prefix>.XXXXXX" and readable by every user (servers started by the
    // tests run as their own users). Throws std::runtime_error when it cannot be made.
    explicit TemporaryFolder(const std::string& prefix);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

#include "tests/support/TemporaryFolder.h"

#include <stdlib.h>

#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
// A new folder under a name nobody holds yet.
fs::path MakeUniqueFolder(const std::string& prefix) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / (prefix + "." + std::to_string(random()));
        if (fs::create_directory(candidate))
            return candidate;
    }
    throw std::runtime_error("cannot create a temporary folder");
}
#else
fs::path MakeUniqueFolder(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + ".XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder");
    return pattern;
}
#endif

} // namespace

TemporaryFolder::TemporaryFolder(const std::string& prefix) {
    path_ = MakeUniqueFolder(prefix);
    fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(path_, ignored))
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

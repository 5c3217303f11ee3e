#include "tests/support/TransportResources.h"

#include <filesystem>

namespace {

int EntriesIn(const char* folder) {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

} // namespace

// The iterator's own descriptor is open while counting; it is the same in every count.
int TransportOpenDescriptorCount() {
    return EntriesIn("/proc/self/fd");
}

int TransportThreadCount() {
    return EntriesIn("/proc/self/task");
}

#include "tests/support/TransportResources.h"

#include <filesystem>

#ifdef _WIN32
#include <windows.h>

#include <tlhelp32.h>

// Open handles of every kind: sockets, events and threads among them.
int TransportOpenDescriptorCount() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return static_cast<int>(count);
}

int TransportThreadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    CloseHandle(snapshot);
    return count;
}
#else
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
#endif

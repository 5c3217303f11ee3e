// Whole POP3 and IMAP checks in the clear against a hostile server on loopback that plays the input as
// its script (ScriptedPeer.h), under the properties of HostileCheck.h (options: HostileMailChecks.h).

#include "fuzz/HostileMailChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RunHostileMailChecks(std::string_view(reinterpret_cast<const char*>(data), size), false,
                         std::chrono::milliseconds(50));
    return 0;
}

// Whole POP3 checks in the clear against a hostile server on loopback that plays the input as
// its script (ScriptedPeer.h), under the properties of HostileCheck.h.

#include "fuzz/HostileCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RunHostilePop3Checks(std::string_view(reinterpret_cast<const char*>(data), size), false,
                         std::chrono::milliseconds(50));
    return 0;
}

// Whole POP3 and IMAP checks over TLS against a hostile server on loopback that completes a real
// handshake with the test certificate and then plays the input as TLS records, cut, paced,
// renewed, closed and garbled as the script says (ScriptedPeer.h), under the properties of
// HostileCheck.h (options: HostileMailChecks.h).

#include "fuzz/HostileMailChecks.h"
#include "fuzz/ScriptedPeer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool prepared = (PrepareTestCertificates(), true);
    (void)prepared;
    RunHostileMailChecks(std::string_view(reinterpret_cast<const char*>(data), size), true,
                         std::chrono::milliseconds(100));
    return 0;
}

// One whole POP3 check over TLS against a hostile server on loopback that completes a real
// handshake with the test certificate and then plays the input as TLS records, cut, paced,
// renewed, closed and garbled as the script says (ScriptedPeer.h), under the properties of
// HostileCheck.h. A script that starts with "#tls" meets a client of TLS from the first byte;
// any other, a client that asks for TLS with "STLS" (a first line "#offered": only when the
// server lists it, else in the clear).

#include "fuzz/HostileCheck.h"
#include "fuzz/ScriptedPeer.h"
#include "pop3/Pop3Client.h"

namespace {

constexpr std::chrono::milliseconds SessionLimit{100};
constexpr int ProgramTimeoutMs = 5000;

TIdUseTLS TlsModeOf(std::string_view script) {
    if (script.starts_with("#tls"))
        return utUseImplicitTLS;
    return script.starts_with("#offered\n") ? utUseExplicitTLS : utUseRequireTLS;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool prepared = (PrepareTestCertificates(), true);
    (void)prepared;
    const std::string_view script(reinterpret_cast<const char*>(data), size);
    auto client = std::make_unique<TIdPOP3>();
    TIdPOP3& pop3 = *client;
    pop3.SetHost(u"127.0.0.1");
    pop3.SetUseTLS(TlsModeOf(script));
    pop3.SetPort(ScriptedPeerPort());
    pop3.SetUsername(u"anna");
    pop3.SetPassword(u"secret");
    pop3.SetConnectTimeout(ProgramTimeoutMs);
    pop3.SetReadTimeout(ProgramTimeoutMs);
    pop3.SetSessionTimeLimit(SessionLimit);
    RunHostileCheck(script, std::move(client), [&pop3] { return CheckLeftAnErrorToReport(pop3); }, SessionLimit);
    return 0;
}

// One whole POP3 check in the clear against a hostile server on loopback that plays the input
// as its script (ScriptedPeer.h), under the properties of HostileCheck.h.

#include "fuzz/HostileCheck.h"
#include "pop3/Pop3Client.h"

namespace {

constexpr std::chrono::milliseconds SessionLimit{50};
constexpr int ProgramTimeoutMs = 5000;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto client = std::make_unique<TIdPOP3>();
    TIdPOP3& pop3 = *client;
    pop3.SetHost(u"127.0.0.1");
    pop3.SetPort(ScriptedPeerPort());
    pop3.SetUsername(u"anna");
    pop3.SetPassword(u"secret");
    pop3.SetConnectTimeout(ProgramTimeoutMs);
    pop3.SetReadTimeout(ProgramTimeoutMs);
    pop3.SetSessionTimeLimit(SessionLimit);
    RunHostileCheck(std::string_view(reinterpret_cast<const char*>(data), size), std::move(client),
                    [&pop3] { return CheckLeftAnErrorToReport(pop3); }, SessionLimit);
    return 0;
}

// The test certificates for the Windows suites under Wine: the Linux helper makes them (with the
// openssl command) in a folder of this process, which the TLS servers' helpers are given, and the
// authority is trusted through the system's store of root authorities in the registry, the one
// store of the Wine prefix whose additions stay.
#include "tests/support/TestCertificates.h"

#include <windows.h>

#include <wincrypt.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/Pop3RealServers.h"

namespace fs = std::filesystem;

namespace {

std::vector<BYTE> DerOfPem(const fs::path& pem) {
    std::ifstream in(pem, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        throw std::runtime_error("no certificate in " + pem.string());
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr);
    return der;
}

// Trusts the authority, and only the latest one of the test runs: earlier ones go.
void TrustAuthority(const fs::path& pem) {
    const std::vector<BYTE> der = DerOfPem(pem);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\SystemCertificates\\Root", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot open the store of root authorities");
    const HCERTSTORE roots = CertOpenStore(CERT_STORE_PROV_REG, 0, 0, 0, key);
    RegCloseKey(key);
    if (!roots)
        throw std::runtime_error("cannot open the store of root authorities");
    for (PCCERT_CONTEXT old = nullptr;
         (old = CertFindCertificateInStore(roots, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W, L"test CA",
                                           old)) != nullptr;)
        CertDeleteCertificateFromStore(CertDuplicateCertificateContext(old));
    const BOOL added =
        CertAddEncodedCertificateToStore(roots, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(roots, 0);
    if (!added)
        throw std::runtime_error("cannot trust the test authority");
}

} // namespace

const TestCertificates& TestCertificates::Get() {
    static const TestCertificates certificates;
    return certificates;
}

TestCertificates::TestCertificates() {
    const fs::path& folder = folder_.Path();
    if (RunRealPop3ServerHelper({"certificates", "certificates=" + LinuxPathOfWindowsPath(folder)},
                                folder / "made") != "made")
        throw std::runtime_error("the real-server helper made no certificates");
    authority = folder / "ca.pem";
    good = {folder / "loopback-chain.pem", folder / "loopback.key"};
    expired = {folder / "expired-chain.pem", folder / "expired.key"};
    unknownAuthority = {folder / "untrusted-chain.pem", folder / "untrusted.key"};
    TrustAuthority(authority);
}

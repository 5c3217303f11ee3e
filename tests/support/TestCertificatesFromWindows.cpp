// The test certificates for the Windows suites under Wine: the Linux helper makes them (with the
// openssl command) in one folder of the build, which every test process of a run shares and the
// TLS servers' helpers are given, and the authority is trusted through the system's store of
// root authorities in the registry, the one store of the Wine prefix whose additions stay.
#include "tests/support/TestCertificates.h"

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/Pop3RealServers.h"

namespace fs = std::filesystem;

namespace {

// The build folder (a Linux path) on Wine's drive for the root folder.
fs::path SharedFolder() {
    std::string path = std::string("Z:") + BG_BINARY_DIR + "/test-certificates";
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

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

HCERTSTORE OpenRootStore() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\SystemCertificates\\Root", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot open the store of root authorities");
    const HCERTSTORE roots = CertOpenStore(CERT_STORE_PROV_REG, 0, 0, 0, key);
    RegCloseKey(key);
    if (!roots)
        throw std::runtime_error("cannot open the store of root authorities");
    return roots;
}

// Trusts the authority, once: the test authorities of earlier runs (the prefix outlives the
// certificates, which scripts/test-windows makes anew for every run) are dropped, and the store
// is written only when it lacks this one, so the processes of a run never rewrite what the
// others read.
void TrustAuthority(const fs::path& pem) {
    const std::vector<BYTE> der = DerOfPem(pem);
    const HCERTSTORE roots = OpenRootStore();
    bool trusted = false;
    std::vector<PCCERT_CONTEXT> earlier;
    for (PCCERT_CONTEXT found = nullptr;
         (found = CertFindCertificateInStore(roots, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W, L"test CA",
                                             found));) {
        const bool same =
            found->cbCertEncoded == der.size() && std::equal(der.begin(), der.end(), found->pbCertEncoded);
        if (same)
            trusted = true;
        else
            earlier.push_back(CertDuplicateCertificateContext(found));
    }
    for (PCCERT_CONTEXT certificate : earlier)
        CertDeleteCertificateFromStore(certificate);
    const BOOL added = trusted || CertAddEncodedCertificateToStore(roots, X509_ASN_ENCODING, der.data(),
                                                                   static_cast<DWORD>(der.size()),
                                                                   CERT_STORE_ADD_USE_EXISTING, nullptr);
    CertCloseStore(roots, 0);
    if (!added)
        throw std::runtime_error("cannot trust the test authority");
}

// Test processes run side by side: one makes the certificates, the others wait and take them.
class TCertificatesLock {
public:
    TCertificatesLock() : mutex_(CreateMutexW(nullptr, FALSE, L"Local\\brevgluggen-test-certificates")) {
        WaitForSingleObject(mutex_, INFINITE);
    }
    ~TCertificatesLock() {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
    TCertificatesLock(const TCertificatesLock&) = delete;
    TCertificatesLock& operator=(const TCertificatesLock&) = delete;

private:
    HANDLE mutex_;
};

} // namespace

const TestCertificates& TestCertificates::Get() {
    static const TestCertificates certificates;
    return certificates;
}

TestCertificates::TestCertificates() {
    const fs::path folder = SharedFolder();
    authority = folder / "ca.pem";
    good = {folder / "loopback-chain.pem", folder / "loopback.key"};
    expired = {folder / "expired-chain.pem", folder / "expired.key"};
    unknownAuthority = {folder / "untrusted-chain.pem", folder / "untrusted.key"};
    const TCertificatesLock lock;
    // Made here only when a suite runs without scripts/test-windows, which makes them first; a
    // set in place is never made again during a run.
    if (!fs::exists(folder / "made")) {
        fs::create_directories(folder);
        if (RunRealPop3ServerHelper({"certificates", "certificates=" + LinuxPathOfWindowsPath(folder)},
                                    folder / "made") != "made")
            throw std::runtime_error("the real-server helper made no certificates");
    }
    TrustAuthority(authority);
}

#pragma once
// A throw-away certificate authority and server certificates for the TLS tests of this process,
// made with the openssl command (EC P-256) in a temporary folder on first use. Get() also makes
// the process trust this authority and nothing else: SSL_CERT_FILE names its certificate and
// SSL_CERT_DIR an empty folder. Call it before the first TLS connection of the process, which
// reads the trust store once. With $BG_TEST_CERTIFICATES naming a folder, the certificates are
// made there (or taken from there when a process made them before), so that the processes of one
// test run share them: the Windows suites under Wine trust them through the system's store
// (TestCertificatesFromWindows.cpp) and their servers run in Linux helpers.
//
//     const TestCertificates& certificates = TestCertificates::Get();
//     certificates.good.chain, certificates.good.key

#include <filesystem>

#include "tests/support/TemporaryFolder.h"

struct TestCertificate {
    std::filesystem::path chain; // the certificate, then the authority's (PEM)
    std::filesystem::path key;
};

class TestCertificates {
public:
    static constexpr const char* SharedFolderVariable = "BG_TEST_CERTIFICATES";
    static const TestCertificates& Get();

    std::filesystem::path authority; // the trusted authority's certificate
    // For the addresses 127.0.0.1 and ::1, not for any host name.
    TestCertificate good;
    // Common name "localhost" without a subjectAltName: no proof of any name.
    TestCertificate commonNameOnly;
    // For 127.0.0.2, valid for one day in 2020.
    TestCertificate expired;
    // For 127.0.0.3, issued by an authority nobody trusts.
    TestCertificate unknownAuthority;

private:
    TestCertificates();
    TemporaryFolder folder_{"bg-test-ca"};
};

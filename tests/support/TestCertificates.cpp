#include "tests/support/TestCertificates.h"

#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::string kNewKey = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

void Run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("openssl failed: " + command);
}

// Wine's certificate check refuses an ECDSA signature whose r or s is shorter than the curve's
// 32 bytes (about one signature in 128 has a leading zero byte), so the Windows suites would
// refuse such a certificate now and then. A certificate whose signature is one of them is made
// again: a new signature is drawn at random.
bool SignatureIsFullLength(const fs::path& pem) {
    FILE* file = std::fopen(pem.c_str(), "r");
    if (!file)
        throw std::runtime_error("no certificate in " + pem.string());
    X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    if (!certificate)
        throw std::runtime_error("no certificate in " + pem.string());
    const ASN1_BIT_STRING* signature = nullptr;
    X509_get0_signature(&signature, nullptr, certificate);
    const unsigned char* bytes = signature->data;
    ECDSA_SIG* values = d2i_ECDSA_SIG(nullptr, &bytes, signature->length);
    bool full = false;
    if (values) {
        const BIGNUM* r = nullptr;
        const BIGNUM* s = nullptr;
        ECDSA_SIG_get0(values, &r, &s);
        full = BN_num_bytes(r) == 32 && BN_num_bytes(s) == 32;
        ECDSA_SIG_free(values);
    }
    X509_free(certificate);
    return full;
}

template <typename Make> void MakeWithFullLengthSignature(const std::string& pem, Make make) {
    do
        make();
    while (!SignatureIsFullLength(pem));
}

void Concatenate(const fs::path& target, const fs::path& first, const fs::path& second) {
    std::ofstream out(target, std::ios::binary);
    out << std::ifstream(first, std::ios::binary).rdbuf() << std::ifstream(second, std::ios::binary).rdbuf();
}

// A self-signed authority `name`.pem / `name`.key in the folder.
void MakeAuthority(const fs::path& folder, const std::string& name, const std::string& commonName) {
    const std::string base = (folder / name).string();
    MakeWithFullLengthSignature(base + ".pem", [&] {
        Run("openssl req -x509 " + kNewKey + " -keyout " + base + ".key -out " + base +
            ".pem -days 30 -subj '/CN=" + commonName +
            "' -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign");
    });
}

// A server certificate `name` signed by the authority, with the chain file beside it; without a
// subjectAltName when none is given.
void MakeServerCertificate(const fs::path& folder, const std::string& name, const std::string& authority,
                           const std::string& subjectAltName, const std::string& commonName = {}) {
    const std::string base = (folder / name).string();
    const std::string ca = (folder / authority).string();
    const std::string alternativeNames =
        subjectAltName.empty() ? "" : " -addext subjectAltName=" + subjectAltName;
    MakeWithFullLengthSignature(base + ".pem", [&] {
        Run("openssl req -x509 " + kNewKey + " -keyout " + base + ".key -out " + base + ".pem -days 30 -CA " +
            ca + ".pem -CAkey " + ca + ".key -subj '/CN=" + (commonName.empty() ? name : commonName) +
            "' -addext basicConstraints=CA:FALSE" + alternativeNames +
            " -addext extendedKeyUsage=serverAuth");
    });
    Concatenate(base + "-chain.pem", base + ".pem", ca + ".pem");
}

// `openssl req` refuses dates in the past; the CA command takes any.
void MakeExpiredCertificate(const fs::path& folder, const std::string& authority,
                            const std::string& subjectAltName) {
    const std::string base = (folder / "expired").string();
    const std::string ca = (folder / authority).string();
    std::ofstream((folder / "index.txt").string());
    std::ofstream((folder / "serial").string()) << "1000\n";
    std::ofstream((folder / "ca.cnf").string())
        << "[ca]\ndefault_ca = test\n[test]\ndatabase = " << (folder / "index.txt").string()
        << "\nnew_certs_dir = " << folder.string() << "\nserial = " << (folder / "serial").string()
        << "\ndefault_md = sha256\npolicy = any\ncopy_extensions = copy\nunique_subject = no\n"
        << "[any]\ncommonName = supplied\n";
    Run("openssl req -new " + kNewKey + " -keyout " + base + ".key -out " + base +
        ".csr -subj /CN=expired -addext subjectAltName=" + subjectAltName +
        " -addext extendedKeyUsage=serverAuth");
    MakeWithFullLengthSignature(base + ".pem", [&] {
        Run("openssl ca -batch -notext -config " + (folder / "ca.cnf").string() + " -cert " + ca +
            ".pem -keyfile " + ca + ".key -in " + base + ".csr -out " + base +
            ".pem -startdate 20200101000000Z -enddate 20200102000000Z");
    });
    Concatenate(base + "-chain.pem", base + ".pem", ca + ".pem");
}

} // namespace

const TestCertificates& TestCertificates::Get() {
    static const TestCertificates certificates;
    return certificates;
}

TestCertificates::TestCertificates() {
    const char* shared = std::getenv(SharedFolderVariable);
    const fs::path folder = shared && *shared ? fs::path(shared) : folder_.Path();
    authority = folder / "ca.pem";
    good = {folder / "loopback-chain.pem", folder / "loopback.key"};
    expired = {folder / "expired-chain.pem", folder / "expired.key"};
    unknownAuthority = {folder / "untrusted-chain.pem", folder / "untrusted.key"};
    commonNameOnly = {folder / "common-name-only-chain.pem", folder / "common-name-only.key"};
    if (!fs::exists(commonNameOnly.chain)) {
        MakeAuthority(folder, "ca", "test CA");
        MakeAuthority(folder, "other-ca", "untrusted CA");
        // Each faulty certificate has exactly one fault: OpenSSL reports only the first it finds.
        // The address also as a DNS name, for clients that match an address against names
        // (fetchmail).
        MakeServerCertificate(folder, "loopback", "ca", "IP:127.0.0.1,IP:::1,DNS:127.0.0.1");
        MakeExpiredCertificate(folder, "ca", "IP:127.0.0.2");
        MakeServerCertificate(folder, "untrusted", "other-ca", "IP:127.0.0.3");
        MakeServerCertificate(folder, "common-name-only", "ca", "", "localhost");
    }
    fs::create_directory(folder / "no-more-authorities");
    setenv("SSL_CERT_FILE", authority.c_str(), 1);
    setenv("SSL_CERT_DIR", (folder / "no-more-authorities").c_str(), 1);
}

// Which authorities the TLS context trusts under SSL_CERT_FILE / SSL_CERT_DIR, and that the
// system's hashed folder is read on demand rather than as a whole.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <optional>

#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestCertificates.h"
#include "transport/OpenSslSession.h"

namespace fs = std::filesystem;

namespace {

using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;
using Context = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;

Certificate Read(const fs::path& file) {
    std::unique_ptr<FILE, decltype(&fclose)> in(fopen(file.c_str(), "r"), fclose);
    return Certificate(in ? PEM_read_X509(in.get(), nullptr, nullptr, nullptr) : nullptr, X509_free);
}

// A root of the system's hashed folder, or nothing when this system has none.
std::optional<fs::path> SystemRoot() {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(X509_get_default_cert_dir(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == 10 && name.substr(8) == ".0")
            return entry.path();
    }
    return std::nullopt;
}

bool Verifies(SSL_CTX* context, X509* certificate) {
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> check(X509_STORE_CTX_new(),
                                                                          X509_STORE_CTX_free);
    X509_STORE_CTX_init(check.get(), SSL_CTX_get_cert_store(context), certificate, nullptr);
    return X509_verify_cert(check.get()) == 1;
}

int CertificatesHeld(SSL_CTX* context) {
    return sk_X509_OBJECT_num(X509_STORE_get0_objects(SSL_CTX_get_cert_store(context)));
}

// Sets (or, for null, unsets) a variable until the end of the scope.
class Variable {
public:
    Variable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~Variable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(SystemTrust, VariablesChooseTheAuthoritiesAndTheSystemFolderIsReadOnDemand) {
    const std::optional<fs::path> systemRoot = SystemRoot();
    if (!systemRoot)
        GTEST_SKIP() << "no hashed certificate folder on this system";
    const fs::path testAuthority = TestCertificates::Get().authority;
    TemporaryFolder folders("bg-trust");
    const fs::path empty = folders.Path() / "empty", hashed = folders.Path() / "hashed";
    fs::create_directory(empty);
    fs::create_directory(hashed);
    const Certificate testRoot = Read(testAuthority), system = Read(*systemRoot);
    char hashName[16];
    std::snprintf(hashName, sizeof hashName, "%08lx.0", X509_subject_name_hash(testRoot.get()));
    fs::copy_file(testAuthority, hashed / hashName);

    struct Case {
        const char* what;
        const char* file;
        const char* folder;
        bool trustsSystem, trustsTest;
    };
    const Case cases[] = {
        {"system store", nullptr, nullptr, true, false},
        {"file and an empty folder", testAuthority.c_str(), empty.c_str(), false, true},
        {"a folder besides the system's", nullptr, hashed.c_str(), true, true},
    };
    for (const Case& c : cases) {
        Variable file("SSL_CERT_FILE", c.file), folder("SSL_CERT_DIR", c.folder);
        Context context(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
        ASSERT_TRUE(LoadSystemTrust(context.get()));
        if (!c.file) {
            EXPECT_EQ(CertificatesHeld(context.get()), 0) << c.what << ": the bundle was read whole";
        }
        EXPECT_EQ(Verifies(context.get(), system.get()), c.trustsSystem) << c.what;
        EXPECT_EQ(Verifies(context.get(), testRoot.get()), c.trustsTest) << c.what;
    }
}

} // namespace

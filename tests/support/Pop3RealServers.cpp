#include "tests/support/Pop3RealServers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <stdexcept>
#include <thread>

#include "base/Base64.h"
#include "tests/support/LoopbackSockets.h"
#include "tests/support/Pop3RawSession.h"
#include "tests/support/TestCertificates.h"

namespace fs = std::filesystem;

namespace {

constexpr int kStartAttempts = 3;
constexpr int kGreetingLimitMs = 10000;
constexpr const char* kDovecotBinary = "/usr/sbin/dovecot";
constexpr const char* kMailutilsBinary = "/usr/sbin/pop3d";
constexpr const char* kImap4dBinary = "/usr/sbin/imap4d";
// The mailbox belongs to "nobody": the servers refuse to open mail as root.
constexpr uid_t kNobody = 65534;
// MD5-crypt hash of "secret", for the mailutils virtual-domain passwd file.
constexpr const char* kSecretCryptHash = "$1$bgsalt$I3QfELQ8ztaZe7bsaymrJ1";
// MD5-crypt hash of DovecotServer::SpecialPassword.
constexpr const char* kSpecialCryptHash = "$1$bgsalt$RbIACRRDo9LRYZVT.PBt81";

bool AcceptsConnections(uint16_t port) {
    try {
        RawPop3Session probe(port);
        return true;
    } catch (const RawPop3Failure&) {
        return false;
    }
}

// Whether a connection to the port gets a line beginning with `prefix` within a short wait.
bool Greets(uint16_t port, const char* prefix) {
    try {
        return RawPop3Session(port, 1000).ReadLine().rfind(prefix, 0) == 0;
    } catch (const RawPop3Failure&) {
        return false;
    }
}

void WriteFile(const fs::path& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool CanStartAsRoot(const char* binary) {
    return geteuid() == 0 && access(binary, X_OK) == 0;
}

} // namespace

// ---- RealPop3Server ----

RealPop3Server::RealPop3Server(const std::string& name) : folder_("bg-" + name) {
    fs::create_directory(Home());
}

RealPop3Server::~RealPop3Server() {
    Stop();
}

const fs::path& RealPop3Server::Folder() const {
    return folder_.Path();
}

bool RealPop3Server::Running() const {
    return pid_ > 0;
}

uid_t RealPop3Server::MailUid() {
    return kNobody;
}
gid_t RealPop3Server::MailGid() {
    return kNobody;
}

void RealPop3Server::Start() {
    for (const std::string sub : {"new", "cur", "tmp"})
        fs::create_directories(Maildir() / sub);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(Home()))
        chown(entry.path().c_str(), MailUid(), MailGid());
    chown(Home().c_str(), MailUid(), MailGid());

    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        port_ = FreeLoopbackPort();
        if (Launch(Configure()))
            return;
        Stop();
    }
    throw std::runtime_error("POP3 server did not start; its output:\n" + ReadFile(Folder() / "server.out"));
}

bool RealPop3Server::Launch(const std::vector<std::string>& commandLine) {
    // Everything the child needs is prepared before fork: it only redirects and executes.
    std::vector<char*> argv;
    for (const std::string& argument : commandLine)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const int output =
        open((Folder() / "server.out").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);

    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        // A test that is killed must not leave its server running.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(output, STDOUT_FILENO);
        dup2(output, STDERR_FILENO);
        chdir(Folder().c_str());
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(output);
    if (pid_ < 0)
        return false;
    setpgid(pid_, pid_); // also here, so that Stop works even before the child ran
    return WaitUntilGreeting(kGreetingLimitMs);
}

bool RealPop3Server::WaitUntilGreeting(int limitMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_)
            return false;
        if (Greets(port_, GreetingPrefix()))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void RealPop3Server::Stop() {
    if (pid_ <= 0)
        return;
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    // The server's other processes share its listening socket and die a moment after it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (AcceptsConnections(port_) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void RealPop3Server::FillMailbox(int count) {
    for (const std::string sub : {"new", "cur"}) {
        for (const fs::directory_entry& entry : fs::directory_iterator(Maildir() / sub))
            fs::remove(entry.path());
    }
    for (int i = 0; i < count; ++i)
        WriteMessage();
}

void RealPop3Server::AddMessage() {
    WriteMessage();
}

void RealPop3Server::MarkSeen(int count) {
    for (const fs::directory_entry& entry : fs::directory_iterator(Maildir() / "new")) {
        if (count-- <= 0)
            break;
        fs::rename(entry.path(), Maildir() / "cur" / (entry.path().filename().string() + ":2,S"));
    }
}

void RealPop3Server::WriteMessage() {
    const int number = ++messagesWritten_;
    const std::string name = std::to_string(number) + "." + std::to_string(getpid()) + ".bg.test";
    // Written in tmp/ and moved to new/, so that a running server never sees half a message.
    const fs::path draft = Maildir() / "tmp" / name;
    WriteFile(draft, "From: sender@bg.test\r\nTo: u@bg.test\r\nSubject: Message " + std::to_string(number) +
                         "\r\n\r\nBody of message " + std::to_string(number) + ".\r\n");
    chown(draft.c_str(), MailUid(), MailGid());
    fs::rename(draft, Maildir() / "new" / name);
}

// ---- DovecotServer ----

DovecotServer::DovecotServer(Options options) : RealPop3Server("dovecot"), options_(options) {
    options_.tls = options_.tls || options_.signedTokens;
    Start();
}

DovecotServer::DovecotServer(Options options, std::string oauth2IntrospectionUrl)
    : RealPop3Server("dovecot"), options_(options),
      oauth2IntrospectionUrl_(std::move(oauth2IntrospectionUrl)) {
    options_.tls = true;
    Start();
}

bool DovecotServer::Available() {
    return CanStartAsRoot(kDovecotBinary);
}

std::vector<std::string> DovecotServer::Configure() {
    const std::string folder = Folder().string();
    const std::string port = std::to_string(Port());
    const std::string protocol = options_.imap ? "imap" : "pop3";
    if (options_.tls)
        tlsPort_ = FreeLoopbackPort();
    WriteFile(Folder() / "passwd", Users());
    // Kept processes serve connection after connection without a fork each.
    const std::string kept =
        options_.keepLoginProcesses ? "  service_count = 0\n  process_min_avail = 1\n" : "";
    WriteFile(Folder() / "dovecot.conf",
              "instance_name = bg-dovecot-" + port + "\n" + "base_dir = " + folder + "/run\n" +
                  "state_dir = " + folder + "/state\n" + "log_path = " + folder + "/dovecot.log\n" +
                  "info_log_path = " + folder + "/dovecot.log\n" + "protocols = " + protocol + "\n" +
                  "listen = " + Addresses() + "\n" + "disable_plaintext_auth = no\n" + TlsSettings() +
                  "auth_failure_delay = 0\n" + "auth_username_chars =\n" +
                  "mail_location = maildir:~/Maildir\n" + PassDb() +
                  "userdb {\n  driver = passwd-file\n  args = " + folder + "/passwd\n}\n" + "service " +
                  protocol + "-login {\n" + Listeners() + kept + "}\n" + "service " + protocol + " {\n" +
                  kept + "}\n" +
                  // Without this listener a failed login still waits for the per-address penalty.
                  "service anvil {\n  unix_listener anvil-auth-penalty {\n    mode = 0\n  }\n}\n");
    return {kDovecotBinary, "-F", "-c", folder + "/dovecot.conf"};
}

// Passwords from the passwd file, and with an introspection address bearer tokens that the
// authorization server vouches for, or with signed tokens those that Dovecot validates itself.
std::string DovecotServer::PassDb() const {
    const std::string folder = Folder().string();
    if (oauth2IntrospectionUrl_.empty() && !options_.signedTokens)
        return "passdb {\n  driver = passwd-file\n  args = " + folder + "/passwd\n}\n";
    WriteFile(Folder() / "oauth2.conf.ext", TokenValidation());
    // The password still works for USER and PASS, so that both sign-ins can be compared here.
    return "auth_mechanisms = plain login xoauth2 oauthbearer\nauth_verbose = yes\n"
           "passdb {\n  driver = passwd-file\n  mechanisms = plain login\n  args = " +
           folder +
           "/passwd\n}\npassdb {\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n  args = " + folder +
           "/oauth2.conf.ext\n}\n";
}

namespace {

constexpr std::string_view kTokenKey = "bench and test key of the signed bearer tokens";
constexpr const char* kTokenKeyId = "bg";

} // namespace

// Signed tokens: the key under <azp>/<alg>/<key id> of the key folder (base64), "sub" the user.
std::string DovecotServer::TokenValidation() const {
    if (!options_.signedTokens)
        return "introspection_mode = post\nintrospection_url = " + oauth2IntrospectionUrl_ +
               "\nusername_attribute = sub\nactive_attribute = active\nactive_value = true\n"
               "tls_ca_cert_file = " +
               TestCertificates::Get().authority.string() + "\ntimeout_msecs = 5000\n";
    const fs::path keys = Folder() / "token-keys";
    fs::create_directories(keys / "default" / "HS256");
    WriteFile(keys / "default" / "HS256" / kTokenKeyId, Base64Encode(kTokenKey));
    return "introspection_mode = local\nlocal_validation_key_dict = fs:posix:prefix=" + keys.string() +
           "/\nusername_attribute = sub\n";
}

std::string DovecotServer::SignedToken(const std::string& user, int lifetimeSeconds) {
    const auto now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const std::string signedPart =
        Base64UrlEncode(std::string(R"({"alg":"HS256","typ":"JWT","kid":")") + kTokenKeyId + "\"}") + "." +
        Base64UrlEncode(R"({"sub":")" + user + R"(","iat":)" + std::to_string(now) + R"(,"exp":)" +
                        std::to_string(now + lifetimeSeconds) + "}");
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macSize = 0;
    HMAC(EVP_sha256(), kTokenKey.data(), static_cast<int>(kTokenKey.size()),
         reinterpret_cast<const unsigned char*>(signedPart.data()), signedPart.size(), mac, &macSize);
    return signedPart + "." + Base64UrlEncode(std::string_view(reinterpret_cast<char*>(mac), macSize));
}

// Certificates by the address the client connected to, or by the name it asked for.
std::string DovecotServer::TlsSettings() const {
    if (!options_.tls)
        return "ssl = no\n";
    const TestCertificates& certificates = TestCertificates::Get();
    auto use = [](const TestCertificate& certificate) {
        return "ssl_cert = <" + certificate.chain.string() + "\nssl_key = <" + certificate.key.string() +
               "\n";
    };
    return "ssl = yes\n" + use(certificates.good) + "local 127.0.0.2 {\n" + use(certificates.expired) +
           "}\n" + "local 127.0.0.3 {\n" + use(certificates.unknownAuthority) + "}\n" +
           "local_name localhost {\n" + use(certificates.commonNameOnly) + "}\n";
}

// The server listens on IPv6 loopback too; with TLS also on the addresses of the faulty
// certificates.
std::string DovecotServer::Addresses() const {
    return options_.tls ? "127.0.0.1, ::1, 127.0.0.2, 127.0.0.3" : "127.0.0.1, ::1";
}

// The login name is looked up with a backslash before each backslash and quote.
std::string DovecotServer::Users() const {
    auto line = [](const std::string& name, const std::string& password, const std::string& home) {
        return name + ":{PLAIN}" + password + ":" + std::to_string(MailUid()) + ":" +
               std::to_string(MailGid()) + "::" + home + "::\n";
    };
    std::string users =
        line(UserName(), Password(), Home().string()) + line(Utf8UserName, Utf8Password, Home().string());
    if (options_.imap) {
        std::string escaped;
        for (const char c : std::string(SpecialUserName))
            escaped += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
        users += line(escaped, SpecialPassword, Home().string());
    }
    return users;
}

std::string DovecotServer::Listeners() const {
    const std::string addresses = Addresses();
    const std::string protocol = options_.imap ? "imap" : "pop3";
    std::string listeners = "  inet_listener " + protocol + " {\n    address = " + addresses +
                            "\n    port = " + std::to_string(Port()) + "\n  }\n";
    if (options_.tls)
        listeners += "  inet_listener " + protocol + "s {\n    address = " + addresses +
                     "\n    port = " + std::to_string(tlsPort_) + "\n    ssl = yes\n  }\n";
    return listeners;
}

// ---- MailutilsPop3Server ----

MailutilsPop3Server::MailutilsPop3Server() : RealPop3Server("mailutils") {
    Start();
}

bool MailutilsPop3Server::Available() {
    return CanStartAsRoot(kMailutilsBinary);
}

std::vector<std::string> MailutilsPop3Server::Configure() {
    const std::string folder = Folder().string();
    fs::create_directories(Folder() / "domains");
    WriteFile(Folder() / "domains" / "bg.test",
              "u:" + std::string(kSecretCryptHash) + ":" + std::to_string(MailUid()) + ":" +
                  std::to_string(MailGid()) + ":test user:" + Home().string() + ":/bin/false\n");
    WriteFile(Folder() / "pop3d.conf", "mode daemon;\n"
                                       "foreground true;\n"
                                       "pidfile \"" +
                                           folder +
                                           "/pop3d.pid\";\n"
                                           "logging { syslog false; };\n"
                                           "virtdomain { passwd-dir \"" +
                                           folder +
                                           "/domains\"; };\n"
                                           "auth { authorization virtdomain; authentication generic; };\n"
                                           "mailbox { mailbox-pattern \"maildir://" +
                                           Maildir().string() +
                                           "\"; };\n"
                                           "mandatory-locking { enable false; };\n"
                                           "server 127.0.0.1:" +
                                           std::to_string(Port()) + " { single-process false; };\n");
    return {kMailutilsBinary, "--config-file=" + folder + "/pop3d.conf"};
}

// ---- MailutilsImapServer ----

MailutilsImapServer::MailutilsImapServer() : RealPop3Server("imap4d") {
    Start();
}

bool MailutilsImapServer::Available() {
    return CanStartAsRoot(kImap4dBinary);
}

std::vector<std::string> MailutilsImapServer::Configure() {
    const std::string folder = Folder().string();
    tlsPort_ = FreeLoopbackPort();
    fs::create_directories(Folder() / "domains");
    WriteFile(Folder() / "domains" / "bg.test",
              "u:" + std::string(kSecretCryptHash) + ":" + std::to_string(MailUid()) + ":" +
                  std::to_string(MailGid()) + ":test user:" + Home().string() + ":/bin/false\n" +
                  std::string(DovecotServer::SpecialUserName) + ":" + kSpecialCryptHash + ":" +
                  std::to_string(MailUid()) + ":" + std::to_string(MailGid()) +
                  ":special user:" + Home().string() + ":/bin/false\n");
    const TestCertificate& certificate = TestCertificates::Get().good;
    const std::string tls = "tls { ssl-certificate-file \"" + certificate.chain.string() +
                            "\"; ssl-key-file \"" + certificate.key.string() + "\"; };";
    WriteFile(Folder() / "imap4d.conf",
              "mode daemon;\nforeground true;\n"
              "logging { syslog false; };\n"
              "gsasl { enable false; };\n"
              "virtdomain { passwd-dir \"" +
                  folder +
                  "/domains\"; };\n"
                  "auth { authorization virtdomain; authentication generic; };\n"
                  "mailbox { mailbox-type maildir; };\n"
                  "locking { type kernel; };\n"
                  "mandatory-locking { enable false; };\n"
                  "tls-file-checks { key-file none; cert-file none; ca-file none; };\n"
                  "server 127.0.0.1:" +
                  std::to_string(Port()) + " { tls-mode ondemand; " + tls +
                  " };\n"
                  "server 127.0.0.1:" +
                  std::to_string(tlsPort_) + " { tls-mode connection; " + tls + " };\n");
    return {kImap4dBinary, "--config-file=" + folder + "/imap4d.conf"};
}

// The real servers for the Windows suites: Dovecot and mailutils pop3d are Linux programs, so
// each server runs in the Linux helper bg_real_pop3_server (RealPop3ServerHelper.cpp), which Wine
// starts like any program. $BG_REAL_POP3_SERVER names the helper by its Linux path; without it
// no real server is available.
#include "tests/support/Pop3RealServers.h"

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestCertificates.h"

namespace fs = std::filesystem;

namespace {

constexpr auto ReadyLimit = std::chrono::seconds(30);
constexpr int CommandLimitMs = 30000;

const char* HelperPath() {
    const char* path = std::getenv("BG_REAL_POP3_SERVER");
    return path && *path ? path : nullptr;
}

// The Linux path of a Windows path on Wine's drive for the root folder (Z:).
std::string LinuxPathOf(const fs::path& path) {
    char linuxPath[MAX_PATH * 4] = {};
    const std::wstring wide = path.wstring();
    using ToUnix = char*(CDECL*)(const wchar_t*);
    static const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix)
        throw std::runtime_error("not running under Wine");
    char* converted = toUnix(wide.c_str());
    if (!converted)
        throw std::runtime_error("no Linux path for " + path.string());
    std::snprintf(linuxPath, sizeof linuxPath, "%s", converted);
    HeapFree(GetProcessHeap(), 0, converted);
    return linuxPath;
}

// Starts the helper with its arguments (empty ones left out); the ready file comes second.
HANDLE StartHelper(std::vector<std::string> arguments, const std::string& readyFile) {
    arguments.insert(arguments.begin() + 1, readyFile);
    arguments.insert(arguments.begin(), HelperPath());
    std::wstring commandLine;
    for (const std::string& part : arguments)
        if (!part.empty())
            commandLine += L"\"" + fs::path(part).wstring() + L"\" ";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        throw std::runtime_error("cannot start the real-server helper");
    CloseHandle(process.hThread);
    return process.hProcess;
}

// The helper's one line, once its ready file is there.
std::string WaitForReadyLine(const fs::path& readyFile) {
    const auto deadline = std::chrono::steady_clock::now() + ReadyLimit;
    while (!fs::exists(readyFile)) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("the real-server helper did not start its server");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string line;
    std::getline(std::ifstream(readyFile), line);
    return line;
}

// Whether the helper can run the kind here: asked once per kind.
bool HelperCanRun(const std::string& kind) {
    if (!HelperPath())
        return false;
    const TemporaryFolder folder("bg-helper-probe");
    const fs::path readyFile = folder.Path() / "ready";
    CloseHandle(StartHelper({kind + "-probe"}, LinuxPathOf(readyFile)));
    return WaitForReadyLine(readyFile) == "available";
}

} // namespace

std::string RunRealPop3ServerHelper(const std::vector<std::string>& arguments, const fs::path& readyFile) {
    if (!HelperPath())
        throw std::runtime_error("no real-server helper ($BG_REAL_POP3_SERVER)");
    CloseHandle(StartHelper(arguments, LinuxPathOf(readyFile)));
    return WaitForReadyLine(readyFile);
}

std::string LinuxPathOfWindowsPath(const fs::path& path) {
    return LinuxPathOf(path);
}

RealPop3Server::RealPop3Server(const std::vector<std::string>& helperArguments) {
    const TemporaryFolder folder("bg-helper");
    const fs::path readyFile = folder.Path() / "ready";
    CloseHandle(StartHelper(helperArguments, LinuxPathOf(readyFile)));
    std::istringstream fields(WaitForReadyLine(readyFile));
    int controlPort = 0;
    std::string linuxFolder;
    if (!(fields >> port_ >> controlPort >> tlsPort_ >> linuxFolder))
        throw std::runtime_error("the real-server helper could not start " + helperArguments.front());
    fields >> extraPort_;
    folder_ = linuxFolder;
    control_ = OpenTestSocket();
    if (!ConnectBlockingToLoopback(control_, static_cast<uint16_t>(controlPort), CommandLimitMs))
        throw std::runtime_error("cannot reach the real-server helper");
    running_ = true;
}

RealPop3Server::~RealPop3Server() {
    // Closing the control connection ends the helper and its server.
    CloseTestSocket(control_);
}

const fs::path& RealPop3Server::Folder() const {
    return folder_;
}

bool RealPop3Server::Running() const {
    return running_;
}

void RealPop3Server::Command(const std::string& line) {
    const std::string bytes = line + "\n";
    char reply[8] = {};
    if (!SendEverything(control_, bytes.data(), bytes.size()) || ReceiveSome(control_, reply, 3) != 3)
        throw std::runtime_error("the real-server helper did not answer " + line);
}

void RealPop3Server::FillMailbox(int count) {
    Command("fill " + std::to_string(count));
}

void RealPop3Server::AddMessage() {
    Command("add");
}

void RealPop3Server::MarkSeen(int count) {
    Command("seen " + std::to_string(count));
}

void RealPop3Server::Stop() {
    if (running_)
        Command("stop");
    running_ = false;
}

// With TLS the helper's Dovecot serves the certificates this process trusts.
static std::string CertificatesFlag(bool tls) {
    return tls ? "certificates=" + LinuxPathOf(TestCertificates::Get().authority.parent_path())
               : std::string();
}

DovecotServer::DovecotServer(Options options)
    : RealPop3Server({"dovecot", options.tls ? "tls" : "", options.keepLoginProcesses ? "keep" : "",
                      options.imap ? "imap" : "", CertificatesFlag(options.tls)}) {
    tlsPort_ = HelperTlsPort();
}

bool DovecotServer::Available() {
    static const bool available = HelperCanRun("dovecot");
    return available;
}

MailutilsPop3Server::MailutilsPop3Server() : RealPop3Server({"mailutils"}) {}

bool MailutilsPop3Server::Available() {
    static const bool available = HelperCanRun("mailutils");
    return available;
}

MailutilsImapServer::MailutilsImapServer() : RealPop3Server({"imap4d", CertificatesFlag(true)}) {
    tlsPort_ = HelperTlsPort();
}

bool MailutilsImapServer::Available() {
    static const bool available = HelperCanRun("imap4d");
    return available;
}

// Runs one real POP3 server on loopback for tests that cannot start it themselves (the Windows
// suites under Wine): bg_real_pop3_server dovecot|mailutils|imap4d <ready-file> [tls] [keep] [imap]
// [certificates=<folder>] (Dovecot with the test certificates of that folder; with its login
// processes kept; serving IMAP; imap4d always serves TLS too). With the kind "dovecot-probe",
// "mailutils-probe" or "imap4d-probe" it only writes "available" or "unavailable"; with "certificates" it
// makes the test certificates and writes "made". With the kind "https" it runs the scripted server over TLS
// instead (the certificate for 127.0.0.1) for a faulty HTTPS endpoint: each connection gets, after the
// request's first line, the bytes of the file named by [reply=<file>] (one byte every 100 ms with [drip]), or
// silence without that flag. With the kind "oauth" it runs the authorization server of the sign-in tests and
// a Dovecot that takes its bearer tokens (with TLS), and writes the authorization server's port after
// the folder; the command "browse <address>" then opens the address in the test browser.
//
// It writes "<POP3 port> <control port> <TLS port> <folder>" (or "unavailable") into the ready
// file, then
// takes one control connection on loopback and answers each command line with "ok":
// "fill <count>", "add", "seen <count>", "stop". The server ends when the control connection closes, or when
// none arrives within a minute.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/LoopbackSockets.h"
#include "tests/support/OAuthRig.h"
#include "tests/support/Pop3RealServers.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestCertificates.h"

namespace {

void WriteReadyFile(const std::string& path, const std::string& line) {
    const std::string temporary = path + ".new";
    std::ofstream(temporary) << line << "\n";
    std::filesystem::rename(temporary, path);
}

// The next command line from the controller; empty once it has gone.
std::string ReadCommand(TestSocket control, std::string& pending) {
    for (;;) {
        const size_t end = pending.find('\n');
        if (end != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            return line;
        }
        char chunk[256];
        const int count = ReceiveSome(control, chunk, sizeof chunk);
        if (count <= 0)
            return {};
        pending.append(chunk, static_cast<size_t>(count));
    }
}

using Browser = std::function<void(const std::string& url)>;

void Serve(RealPop3Server* server, const Browser& browse, TestSocket control) {
    std::string pending;
    for (std::string command = ReadCommand(control, pending); !command.empty();
         command = ReadCommand(control, pending)) {
        if (server && command.rfind("fill ", 0) == 0)
            server->FillMailbox(std::stoi(command.substr(5)));
        else if (server && command == "add")
            server->AddMessage();
        else if (server && command.rfind("seen ", 0) == 0)
            server->MarkSeen(std::stoi(command.substr(5)));
        else if (server && command == "stop")
            server->Stop();
        else if (browse && command.rfind("browse ", 0) == 0)
            browse(command.substr(7));
        const std::string reply = "ok\n";
        SendEverything(control, reply.data(), reply.size());
    }
}

// The faulty HTTPS endpoint's script: TLS, the request's first line, then the reply or silence.
Script HttpsScript(const std::string& replyFile, bool drip) {
    Script script = {ServerStartsTls(), ClientSends("POST")};
    if (replyFile.empty()) {
        script.push_back(ServerStaysSilent(std::chrono::seconds(60)));
    } else {
        std::ifstream in(replyFile, std::ios::binary);
        std::string reply(std::istreambuf_iterator<char>(in), {});
        script.push_back(drip ? ServerDripFeeds(std::move(reply), std::chrono::milliseconds(100))
                              : ServerSendsBytes(std::move(reply)));
        script.push_back(CloseConnection()); // ends an answer without a length
    }
    return script;
}

// Writes the ready line and serves the control connection until it closes.
int ServeControl(const char* readyFile, uint16_t port, uint16_t tlsPort, const std::string& folder,
                 RealPop3Server* server, const Browser& browse = nullptr, uint16_t extraPort = 0) {
    uint16_t controlPort = 0;
    const TestSocket listener = OpenLoopbackListener(1, controlPort);
    WriteReadyFile(readyFile, std::to_string(port) + " " + std::to_string(controlPort) + " " +
                                  std::to_string(tlsPort) + " " + folder +
                                  (extraPort ? " " + std::to_string(extraPort) : std::string()));
    if (!WaitTestSocket(listener, false, 60000))
        return 1;
    const TestSocket control = AcceptTestClient(listener);
    CloseTestSocket(listener);
    Serve(server, browse, control);
    CloseTestSocket(control);
    return 0;
}

// The authorization server, the Dovecot that trusts it and the test browser, for the sign-in under Wine.
int ServeSignIn(const char* readyFile, bool probe) {
    const bool available = DovecotServer::Available() && AuthorizationServer::Available();
    if (!available || probe) {
        WriteReadyFile(readyFile, available ? "available" : "unavailable");
        return 0;
    }
    const AuthorizationServer authorization;
    DovecotServer dovecot(DovecotServer::Options{}, authorization.IntrospectionUrl());
    const TemporaryFolder browsing("bg-helper-browser");
    const Browser browse = [&](const std::string& url) {
        OpenInTestBrowser(url, browsing.Path() / "result");
    };
    return ServeControl(readyFile, dovecot.Port(), dovecot.TlsPort(), dovecot.Folder().string(), &dovecot,
                        browse, authorization.Port());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr
            << "usage: bg_real_pop3_server dovecot|mailutils|imap4d|certificates|https|oauth <ready-file> "
               "[tls] [keep] [imap] "
               "[certificates=<folder>] [reply=<file>] [drip]\n";
        return 2;
    }
    // Started from Wine, the search path is the Windows one.
    setenv("PATH", "/usr/sbin:/usr/bin:/sbin:/bin", 1);
    const std::string kind = argv[1];
    const std::vector<std::string> flags(argv + 3, argv + argc);
    const auto flagged = [&](const char* flag) {
        return std::find(flags.begin(), flags.end(), flag) != flags.end();
    };
    const std::string certificatesFlag = "certificates=", replyFlag = "reply=";
    std::string replyFile;
    for (const std::string& flag : flags) {
        if (flag.rfind(certificatesFlag, 0) == 0)
            setenv(TestCertificates::SharedFolderVariable, flag.substr(certificatesFlag.size()).c_str(), 1);
        if (flag.rfind(replyFlag, 0) == 0)
            replyFile = flag.substr(replyFlag.size());
    }
    if (kind == "https") {
        const ScriptedServer server(HttpsScript(replyFile, flagged("drip")));
        return ServeControl(argv[2], server.Port(), 0, "-", nullptr);
    }
    if (kind.rfind("oauth", 0) == 0)
        return ServeSignIn(argv[2], kind.ends_with("-probe"));
    if (kind == "certificates") {
        TestCertificates::Get();
        WriteReadyFile(argv[2], "made");
        return 0;
    }
    const bool dovecot = kind.rfind("dovecot", 0) == 0;
    const bool imap4d = kind.rfind("imap4d", 0) == 0;
    const bool available = dovecot  ? DovecotServer::Available()
                           : imap4d ? MailutilsImapServer::Available()
                                    : MailutilsPop3Server::Available();
    if (!available || kind.ends_with("-probe")) {
        WriteReadyFile(argv[2], available ? "available" : "unavailable");
        return 0;
    }
    std::unique_ptr<RealPop3Server> server;
    uint16_t tlsPort = 0;
    if (dovecot) {
        auto made = std::make_unique<DovecotServer>(DovecotServer::Options{
            .keepLoginProcesses = flagged("keep"), .tls = flagged("tls"), .imap = flagged("imap")});
        tlsPort = made->TlsPort();
        server = std::move(made);
    } else if (imap4d) {
        auto made = std::make_unique<MailutilsImapServer>();
        tlsPort = made->TlsPort();
        server = std::move(made);
    } else {
        server = std::make_unique<MailutilsPop3Server>();
    }
    return ServeControl(argv[2], server->Port(), tlsPort, server->Folder().string(), server.get());
}

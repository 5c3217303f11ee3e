#pragma once
// The sign-in tests' real parts on loopback: the authorization server (Node, oidc-provider, over
// HTTPS with the test authority's certificate for 127.0.0.1) and a browser opener that signs in
// through Debian's headless chromium. Both run from tests/support/oauth, installed once per lock
// by its install.sh. Available() says whether node, npm and chromium are here.
//
//     AuthorizationServer server;
//     OAuthClient client = server.Client();
//     OAuthSignIn signIn(tokens.Client(), TestBrowser::Opener(result));

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "signin/OAuthRequests.h"
#include "tests/support/TemporaryFolder.h"

class AuthorizationServer {
public:
    static bool Available();
    explicit AuthorizationServer(int accessTokenSeconds = 3600);
    ~AuthorizationServer();
    AuthorizationServer(const AuthorizationServer&) = delete;
    AuthorizationServer& operator=(const AuthorizationServer&) = delete;

    uint16_t Port() const { return port_; }
    std::string Base() const { return "https://127.0.0.1:" + std::to_string(port_); }
    // The program as a public client of this server (scope "pop3").
    OAuthClient Client() const;
    // Dovecot's introspection address, with its client's credentials.
    std::string IntrospectionUrl() const;
    // How many token requests of the grant type were made ("authorization_code", "refresh_token"),
    // and how many of them failed with the error ("invalid_grant"; empty: succeeded).
    int Grants(const std::string& grantType, const std::string& outcome = "ok") const;

private:
    TemporaryFolder folder_{"bg-oauth"};
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

// Starts the test browser on an address, as the desktop's opener would, without waiting for it.
// The browser appends "done <status>" or "failed <reason>" to resultFile once finished.
void OpenInTestBrowser(const std::string& url, const std::filesystem::path& resultFile, bool cancel = false);
// Waits (up to limitMs) for the test browser's line in resultFile; empty when none came.
std::string AwaitTestBrowser(const std::filesystem::path& resultFile, int limitMs = 30000);

// The folder holding the rig's scripts beside node_modules (installs on first use).
std::filesystem::path OAuthRigFolder();

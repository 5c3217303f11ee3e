#pragma once
// The settings file's mailboxes: [Main] holds the first mailbox with the settings all mailboxes
// share (mail program, sound, WWW), and each further mailbox has a section of its own,
// [Mailbox2], [Mailbox3] ..., numbered without gaps. A file with [Main] alone is read and written
// exactly as a program that knows one mailbox reads and writes it.
//
//     SettingsFile file = ReadSettingsFile();
//     file.mailboxes.push_back(MailboxSettings{});
//     WriteSettingsFile(file); // [Main], then [Mailbox2]; sections beyond the last are removed

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mail/ExplicitTlsClient.h"
#include "toolz/Toolz.h"

// The protocol the check speaks, as the settings file stores it (Protocol).
enum TMailProtocol : uint8_t { mpPOP3 = 0, mpIMAP = 1 };
// How the check signs in, as the settings file stores it (SignIn).
enum TSignInKind : uint8_t { siPassword = 0, siOAuth = 1 };
// The providers of the sign-in group, in the order of its list (OAuthProvider).
enum TOAuthProvider : uint8_t { opMicrosoft = 0, opGoogle = 1, opCustom = 2 };

// One mailbox, as its section holds it; texts as the window's boxes show them (user name and
// password unscrambled).
struct MailboxSettings {
    std::u16string name;   // Name: what the chooser and the tray tip call it; may be empty
    std::u16string server; // POP3Server, also for IMAP
    std::u16string port = u"110";
    std::u16string userName;
    std::u16string password;
    TMailProtocol protocol = mpPOP3;
    // UseTLS: the file's value, else the default for protocol and port (implicit TLS on the
    // protocol's TLS port, none elsewhere).
    TIdUseTLS useTLS = utNoTLSSupport;
    TSignInKind signIn = siPassword;
    TOAuthProvider oauthProvider = opMicrosoft;
    std::u16string oauthClientId;
    std::u16string oauthClientSecret;
    std::u16string oauthAuthorizeUrl;
    std::u16string oauthTokenUrl;
    std::u16string oauthScope;
    bool notify = true;

    bool operator==(const MailboxSettings&) const = default;
};

// What every mailbox shares; kept in [Main].
struct SharedSettings {
    std::u16string pathToClient;
    std::u16string pathToSound;
    bool www = false;

    bool operator==(const SharedSettings&) const = default;
};

struct SettingsFile {
    SharedSettings shared;
    std::vector<MailboxSettings> mailboxes; // never empty: [Main] is the first

    bool operator==(const SettingsFile&) const = default;
};

// The provider as OAuthProvider stores it: "microsoft", "google" or "custom".
std::u16string_view OAuthProviderName(TOAuthProvider provider);

// The default ports of each protocol, plain and with TLS from the first byte, by TMailProtocol.
struct DefaultPorts {
    std::u16string_view plain;
    std::u16string_view tls;
};
inline constexpr DefaultPorts ProtocolPorts[] = {{u"110", u"995"}, {u"143", u"993"}};
// Whether the port names a default port of either protocol.
bool IsDefaultPort(std::u16string_view port);

// "Main" for the first mailbox (index 0), then "Mailbox2", "Mailbox3" ...
std::u16string MailboxSection(size_t index);

// The default UseTLS for a protocol and the port as typed: implicit TLS on the protocol's TLS
// port (995, 993), none on any other.
TIdUseTLS DefaultUseTLS(TMailProtocol protocol, std::u16string_view port);

// Reads [Main], then the numbered sections in the order of their numbers (a number left out is
// no end: the next write closes the gap). Missing keys take the values an empty window shows. An empty file
// name means SettingsFilePath().
SettingsFile ReadSettingsFile(std::u16string_view fileName = {});
// Writes every mailbox to its section ([Main] in the key order it has always had, the shared
// keys after the password) and removes the numbered sections beyond the last mailbox. Keys
// added after the first seven are written only when they differ from their default or are in
// the file already, so a file that never needed them keeps its form. Failures are swallowed,
// as for every settings write.
void WriteSettingsFile(const SettingsFile& file, std::u16string_view fileName = {});

// The six-field test of one mailbox: server, port, user name, password (not needed with OAuth
// sign-in), and the shared mail program and sound all non-empty.
bool MailboxComplete(const MailboxSettings& mailbox, const SharedSettings& shared);

// What the chooser and the tray call a mailbox: its Name, else its user name, else "Brevlåda N"
// / "Mailbox N" (N counted from 1).
std::u16string MailboxDisplayName(const MailboxSettings& mailbox, size_t index, TUiLanguage language);

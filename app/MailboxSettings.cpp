#include "app/MailboxSettings.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/Integers.h"
#include "base/Text.h"
#include "toolz/INIToolz.h"
#include "toolz/IniFileContent.h"

namespace {

constexpr std::u16string_view MainSection = u"Main";
constexpr std::u16string_view NumberedPrefix = u"Mailbox";
constexpr std::u16string_view ProviderNames[] = {u"microsoft", u"google", u"custom"};
// What an empty window's port box holds.
constexpr std::u16string_view DefaultPort = u"110";

// The number of a section named "Mailbox<N>" with N written plainly (no sign, no leading zero),
// in any letter case; 0 for any other name.
size_t SectionNumber(std::u16string_view name) {
    if (name.size() <= NumberedPrefix.size() ||
        AsciiLowerCase(name.substr(0, NumberedPrefix.size())) != AsciiLowerCase(NumberedPrefix))
        return 0;
    const std::u16string_view digits = name.substr(NumberedPrefix.size());
    if (digits.front() == u'0' || digits.size() > 9)
        return 0;
    for (const char16_t c : digits)
        if (c < u'0' || c > u'9')
            return 0;
    return static_cast<size_t>(IntegerFromText(digits, 0));
}

// A file without UseTLS, or with a value no mode has, takes the default of protocol and port.
TIdUseTLS ReadUseTLS(const IniFileContent& file, std::u16string_view section,
                     const MailboxSettings& mailbox) {
    const int32_t fallback = DefaultUseTLS(mailbox.protocol, mailbox.port);
    const int32_t stored = IntegerFromText(file.ReadString(section, u"UseTLS", u""), fallback);
    return static_cast<TIdUseTLS>(stored < utNoTLSSupport || stored > utUseExplicitTLS ? fallback : stored);
}

TOAuthProvider ReadProvider(const IniFileContent& file, std::u16string_view section) {
    const std::u16string stored = AsciiLowerCase(file.ReadString(section, u"OAuthProvider", u""));
    for (const TOAuthProvider provider : {opMicrosoft, opGoogle, opCustom})
        if (stored == ProviderNames[provider])
            return provider;
    return opMicrosoft;
}

MailboxSettings ReadMailbox(const IniFileContent& file, std::u16string_view section) {
    MailboxSettings mailbox;
    auto text = [&](std::u16string_view key, std::u16string_view fallback = u"") {
        return file.ReadString(section, key, fallback);
    };
    mailbox.name = text(u"Name");
    mailbox.server = text(u"POP3Server");
    mailbox.port = text(u"Port", DefaultPort);
    mailbox.userName = UnscrambleCredential(text(u"UserName"));
    mailbox.password = UnscrambleCredential(text(u"Password"));
    mailbox.protocol = IntegerFromText(text(u"Protocol"), mpPOP3) == mpIMAP ? mpIMAP : mpPOP3;
    mailbox.useTLS = ReadUseTLS(file, section, mailbox);
    mailbox.signIn = IntegerFromText(text(u"SignIn"), siPassword) == siOAuth ? siOAuth : siPassword;
    mailbox.oauthProvider = ReadProvider(file, section);
    mailbox.oauthClientId = text(u"OAuthClientId");
    mailbox.oauthClientSecret = text(u"OAuthClientSecret");
    mailbox.oauthAuthorizeUrl = text(u"OAuthAuthorizeUrl");
    mailbox.oauthTokenUrl = text(u"OAuthTokenUrl");
    mailbox.oauthScope = text(u"OAuthScope");
    mailbox.notify = file.ReadBool(section, u"Notify", true);
    return mailbox;
}

void WriteSharedKeys(IniFileContent& file, const SharedSettings& shared) {
    file.WriteString(MainSection, u"PathToClient", shared.pathToClient);
    file.WriteString(MainSection, u"PathToSound", shared.pathToSound);
    file.WriteString(MainSection, u"WWW", shared.www ? u"1" : u"0");
}

// The keys in the order a program that knows one mailbox writes [Main]: the first four, the
// shared keys (for [Main] only), then the keys added since, each only when needed. A numbered
// section begins with its name.
void WriteMailbox(IniFileContent& file, std::u16string_view section, const MailboxSettings& mailbox,
                  const SharedSettings* shared) {
    auto optional = [&](std::u16string_view key, std::u16string_view value, std::u16string_view fallback) {
        file.WriteOptional(section, key, value, fallback);
    };
    if (!shared)
        optional(u"Name", mailbox.name, u"");
    file.WriteString(section, u"POP3Server", mailbox.server);
    file.WriteString(section, u"Port", mailbox.port);
    file.WriteString(section, u"UserName", ScrambleCredential(mailbox.userName));
    file.WriteString(section, u"Password", ScrambleCredential(mailbox.password));
    if (shared)
        WriteSharedKeys(file, *shared);
    optional(u"UseTLS", IntToText(mailbox.useTLS), IntToText(DefaultUseTLS(mailbox.protocol, mailbox.port)));
    optional(u"SignIn", IntToText(mailbox.signIn), IntToText(siPassword));
    optional(u"OAuthProvider", ProviderNames[mailbox.oauthProvider], ProviderNames[opMicrosoft]);
    optional(u"OAuthClientId", mailbox.oauthClientId, u"");
    optional(u"OAuthClientSecret", mailbox.oauthClientSecret, u"");
    optional(u"OAuthAuthorizeUrl", mailbox.oauthAuthorizeUrl, u"");
    optional(u"OAuthTokenUrl", mailbox.oauthTokenUrl, u"");
    optional(u"OAuthScope", mailbox.oauthScope, u"");
    optional(u"Protocol", IntToText(mailbox.protocol), IntToText(mpPOP3));
    optional(u"Notify", mailbox.notify ? u"1" : u"0", u"1");
    if (shared)
        optional(u"Name", mailbox.name, u"");
}

// Numbered sections past the last mailbox, also those after a gap, which no read reaches.
void RemoveSectionsBeyond(IniFileContent& file, size_t mailboxCount) {
    for (const std::u16string& name : file.SectionNames())
        if (SectionNumber(name) > mailboxCount)
            file.RemoveSection(name);
}

} // namespace

std::u16string MailboxSection(size_t index) {
    return index == 0 ? std::u16string(MainSection) : std::u16string(NumberedPrefix) + IntToText(index + 1);
}

std::u16string_view OAuthProviderName(TOAuthProvider provider) {
    return ProviderNames[provider];
}

bool IsDefaultPort(std::u16string_view port) {
    for (const DefaultPorts& ports : ProtocolPorts)
        if (port == ports.plain || port == ports.tls)
            return true;
    return false;
}

TIdUseTLS DefaultUseTLS(TMailProtocol protocol, std::u16string_view port) {
    return IntegerFromText(port, 0) == IntegerFromText(ProtocolPorts[protocol].tls, 0) ? utUseImplicitTLS
                                                                                       : utNoTLSSupport;
}

SettingsFile ReadSettingsFile(std::u16string_view fileName) {
    const IniFileContent file = ReadIniFileContent(fileName);
    SettingsFile settings;
    settings.shared.pathToClient = file.ReadString(MainSection, u"PathToClient", u"");
    settings.shared.pathToSound = file.ReadString(MainSection, u"PathToSound", u"");
    settings.shared.www = file.ReadBool(MainSection, u"WWW", false);
    settings.mailboxes.push_back(ReadMailbox(file, MainSection));
    // In the order of their numbers; a number left out (a section removed by hand) loses no
    // mailbox: the next Save numbers them without the gap.
    std::vector<std::pair<size_t, std::u16string>> numbered;
    for (const std::u16string& name : file.SectionNames())
        if (SectionNumber(name) >= 2)
            numbered.emplace_back(SectionNumber(name), name);
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < numbered.size(); ++i)
        if (i == 0 || numbered[i].first != numbered[i - 1].first) // a number twice: its first section
            settings.mailboxes.push_back(ReadMailbox(file, numbered[i].second));
    return settings;
}

void WriteSettingsFile(const SettingsFile& settings, std::u16string_view fileName) {
    UpdateIniFileContent(
        [&](IniFileContent& file) {
            const std::vector<MailboxSettings> mailboxes =
                settings.mailboxes.empty() ? std::vector<MailboxSettings>(1) : settings.mailboxes;
            for (size_t index = 0; index < mailboxes.size(); ++index)
                WriteMailbox(file, MailboxSection(index), mailboxes[index],
                             index == 0 ? &settings.shared : nullptr);
            RemoveSectionsBeyond(file, mailboxes.size());
        },
        fileName);
}

bool MailboxComplete(const MailboxSettings& mailbox, const SharedSettings& shared) {
    return !mailbox.server.empty() && !mailbox.port.empty() && !mailbox.userName.empty() &&
           (!mailbox.password.empty() || mailbox.signIn == siOAuth) && !shared.pathToClient.empty() &&
           !shared.pathToSound.empty();
}

std::u16string MailboxDisplayName(const MailboxSettings& mailbox, size_t index, TUiLanguage language) {
    if (!mailbox.name.empty())
        return mailbox.name;
    if (!mailbox.userName.empty())
        return mailbox.userName;
    return PickLanguageText(language, u"Brevl\u00E5da ", u"Mailbox ") + IntToText(index + 1);
}

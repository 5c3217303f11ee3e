#include "signin/OAuthRequests.h"

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "base/Integers.h"
#include "base/Text.h"
#include "signin/SignInErrors.h"

namespace {

// What a preset fills in for one protocol.
struct PresetMailbox {
    const char16_t* Server;
    uint16_t Port;
    const char* Scope;
};

struct Preset {
    std::u16string_view Name;
    const char* AuthorizeUrl;
    const char* TokenUrl;
    const char* ExtraAuthorizeQuery;
    PresetMailbox ByProtocol[2]; // by MailboxProtocol
};

const Preset Presets[] = {
    {u"microsoft",
     "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
     "https://login.microsoftonline.com/common/oauth2/v2.0/token",
     "",
     {{u"outlook.office365.com", 995, "https://outlook.office.com/POP.AccessAsUser.All offline_access"},
      {u"outlook.office365.com", 993, "https://outlook.office.com/IMAP.AccessAsUser.All offline_access"}}},
    {u"google",
     "https://accounts.google.com/o/oauth2/v2/auth",
     "https://oauth2.googleapis.com/token",
     "&access_type=offline&prompt=consent",
     {{u"pop.gmail.com", 995, "https://mail.google.com/"},
      {u"imap.gmail.com", 993, "https://mail.google.com/"}}},
};

} // namespace

std::optional<OAuthProviderConfig> ProviderPreset(std::u16string_view name, MailboxProtocol protocol) {
    for (const Preset& preset : Presets) {
        if (!SameTextAscii(name, preset.Name))
            continue;
        const PresetMailbox& mailbox = preset.ByProtocol[static_cast<size_t>(protocol)];
        return OAuthProviderConfig{preset.AuthorizeUrl,        preset.TokenUrl, mailbox.Scope,
                                   preset.ExtraAuthorizeQuery, mailbox.Server,  mailbox.Port};
    }
    return std::nullopt;
}

bool IsPresetServer(std::u16string_view server) {
    for (const Preset& preset : Presets)
        for (const PresetMailbox& mailbox : preset.ByProtocol)
            if (SameTextAscii(server, mailbox.Server))
                return true;
    return false;
}

std::string FormEncode(std::string_view value) {
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : value) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 15];
        }
    }
    return encoded;
}

namespace {

std::string PercentDecode(std::string_view text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
                   HexDigitValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// b64token: 1*( ALPHA / DIGIT / "-" / "." / "_" / "~" / "+" / "/" ) *"="
bool IsBearerTokenText(std::string_view token) {
    const size_t body = token.find_last_not_of('=') + 1; // 0 when all of it is "="
    if (body == 0)
        return false;
    return std::all_of(token.begin(), token.begin() + static_cast<std::ptrdiff_t>(body), [](char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return u < 0x80 && (std::isalnum(u) || std::string_view("-._~+/").find(c) != std::string_view::npos);
    });
}

std::string ClientPart(const OAuthClient& client) {
    std::string part = "&client_id=" + FormEncode(client.ClientId);
    if (!client.ClientSecret.empty())
        part += "&client_secret=" + FormEncode(client.ClientSecret);
    return part;
}

} // namespace

std::map<std::string, std::string> ParseQuery(std::string_view query) {
    std::map<std::string, std::string> fields;
    while (!query.empty()) {
        const size_t end = std::min(query.find('&'), query.size());
        const std::string_view pair = query.substr(0, end);
        const size_t equals = std::min(pair.find('='), pair.size());
        const std::string name = PercentDecode(pair.substr(0, equals));
        if (!name.empty())
            fields.emplace(name,
                           equals < pair.size() ? PercentDecode(pair.substr(equals + 1)) : std::string());
        query.remove_prefix(std::min(end + 1, query.size()));
    }
    return fields;
}

void RequireHttpsAddress(const std::string& address) {
    if (AsciiLowerCase(address.substr(0, 8)) != "https://")
        throw EIdException(u"The sign-in address must begin with https://.");
}

std::string AuthorizeUrl(const OAuthClient& client, const std::string& redirectUri, const std::string& state,
                         const std::string& challenge, const std::string& loginHint) {
    const std::string& base = client.Provider.AuthorizeUrl;
    std::string url = base + (base.find('?') == std::string::npos ? "?" : "&") + "response_type=code" +
                      "&client_id=" + FormEncode(client.ClientId) +
                      "&redirect_uri=" + FormEncode(redirectUri) +
                      "&scope=" + FormEncode(client.Provider.Scope) + "&state=" + FormEncode(state) +
                      "&code_challenge=" + FormEncode(challenge) + "&code_challenge_method=S256";
    if (!loginHint.empty())
        url += "&login_hint=" + FormEncode(loginHint);
    return url + client.Provider.ExtraAuthorizeQuery;
}

std::string CodeGrantBody(const OAuthClient& client, const std::string& code, const std::string& redirectUri,
                          const std::string& verifier) {
    return "grant_type=authorization_code&code=" + FormEncode(code) +
           "&redirect_uri=" + FormEncode(redirectUri) + "&code_verifier=" + FormEncode(verifier) +
           ClientPart(client);
}

std::string RefreshGrantBody(const OAuthClient& client, const std::string& refreshToken) {
    return "grant_type=refresh_token&refresh_token=" + FormEncode(refreshToken) + ClientPart(client);
}

TokenAnswer ReadTokenAnswer(long status, const std::string& body) {
    const nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    const bool serverFault = status >= 500 && status < 600;
    if (answer.is_object() && answer.contains("error") && answer["error"].is_string()) {
        const std::string code = answer["error"];
        std::string text = code;
        if (answer.contains("error_description") && answer["error_description"].is_string())
            text += ": " + answer["error_description"].get<std::string>();
        // A server's own failure is tried again whatever it says.
        if (serverFault)
            throw ETokenEndpointError(
                Utf8ToText("Token endpoint answered HTTP " + std::to_string(status) + ": " + text));
        throw ETokenRefused(code, Utf8ToText(text));
    }
    if (status != 200 || !answer.is_object())
        throw ETokenEndpointError("Token endpoint answered HTTP " + std::to_string(status) +
                                  (answer.is_object() ? "." : " without a token answer."));
    const auto text = [&](const char* name) {
        const auto field = answer.find(name);
        return field != answer.end() && field->is_string() ? field->get<std::string>() : std::string();
    };
    TokenAnswer token;
    token.AccessToken = text("access_token");
    token.TokenType = text("token_type");
    token.RefreshToken = text("refresh_token");
    if (HasControlCharacter(token.RefreshToken))
        throw ETokenEndpointError(std::string_view("Token endpoint answered an unusable refresh token."));
    const auto expires = answer.find("expires_in");
    if (expires != answer.end() && expires->is_number_unsigned())
        token.ExpiresIn =
            static_cast<int64_t>(std::min<uint64_t>(expires->get<uint64_t>(), MaxTokenLifetimeSeconds));
    else if (expires != answer.end() && expires->is_number_integer())
        token.ExpiresIn = expires->get<int64_t>();
    else if (expires != answer.end() && expires->is_string())
        token.ExpiresIn = std::strtoll(expires->get<std::string>().c_str(), nullptr, 10); // saturates
    token.ExpiresIn = std::clamp<int64_t>(token.ExpiresIn, 0, MaxTokenLifetimeSeconds);
    return token;
}

void RequireBearerToken(const TokenAnswer& answer) {
    if (answer.AccessToken.empty())
        throw ETokenEndpointError(std::string_view("Token endpoint answered without an access token."));
    if (!answer.TokenType.empty() && AsciiLowerCase(answer.TokenType) != "bearer")
        throw ETokenEndpointError(u"Token endpoint answered a token of type \"" +
                                  Utf8ToText(answer.TokenType.substr(0, 40)) + u"\", not Bearer.");
    if (!IsBearerTokenText(answer.AccessToken))
        throw ETokenEndpointError(std::string_view(
            "Token endpoint answered an access token with characters a bearer token cannot hold."));
}

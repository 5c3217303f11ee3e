#pragma once
// What the sign-in sends and reads: the provider's addresses, the authorize address the browser
// opens, the token endpoint's form bodies and its JSON answers, and the redirect's query.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// One provider as the settings name it (OAuthProvider: "microsoft", "google" or "custom").
struct OAuthProviderConfig {
    std::string AuthorizeUrl;
    std::string TokenUrl;
    std::string Scope;
    // Extra authorize parameters, already encoded ("&access_type=offline&prompt=consent").
    std::string ExtraAuthorizeQuery;
    std::u16string Server; // the mail server and port the preset fills in, empty for custom
    uint16_t Port = 0;
};

// The mail protocol a preset serves: each has its own server, and some providers their own scope.
enum class MailboxProtocol : uint8_t { Pop3, Imap };

// The preset of "microsoft" or "google" (any letter case) for the protocol; nothing for any other
// name.
std::optional<OAuthProviderConfig> ProviderPreset(std::u16string_view name, MailboxProtocol protocol);
// Whether the server (any letter case) is one that some preset fills in, for either protocol.
bool IsPresetServer(std::u16string_view server);

struct OAuthClient {
    OAuthProviderConfig Provider;
    std::string ClientId;
    std::string ClientSecret; // empty for a public client
};

// Percent-encoding of a form or query value (RFC 3986 unreserved characters kept).
std::string FormEncode(std::string_view value);
// A query or form body split into its names and values, percent-decoded ("+" is a blank). Later
// repeats of a name are ignored.
std::map<std::string, std::string> ParseQuery(std::string_view query);

// Raises EIdException unless the address begins with "https://" (any letter case): the authorize
// address goes to the system's opener, which would as readily start a program or open a file.
void RequireHttpsAddress(const std::string& address);
std::string AuthorizeUrl(const OAuthClient& client, const std::string& redirectUri, const std::string& state,
                         const std::string& challenge, const std::string& loginHint);
std::string CodeGrantBody(const OAuthClient& client, const std::string& code, const std::string& redirectUri,
                          const std::string& verifier);
std::string RefreshGrantBody(const OAuthClient& client, const std::string& refreshToken);

// The longest lifetime an answer's expires_in is taken for: a longer one (even one beyond what
// the clock can add) is cut to it, so the token is refreshed sooner, never later. A negative one
// counts as expired.
inline constexpr int64_t MaxTokenLifetimeSeconds = int64_t{365} * 24 * 3600;

struct TokenAnswer {
    std::string AccessToken;
    std::string TokenType;    // as answered; empty when the answer named none
    int64_t ExpiresIn = 3600; // seconds, 0 to MaxTokenLifetimeSeconds
    std::string RefreshToken; // empty when the endpoint kept the old one
};

// Reads the token endpoint's answer. A 200 with a JSON object gives the answer, whether or not its
// access token is usable (RequireBearerToken says so; a rotated refresh token must be kept
// first). An OAuth error ({"error": ...}) raises ETokenRefused with its code and description,
// except with a 5xx status; anything else (another status, no JSON, a refresh token with control
// characters) raises ETokenEndpointError.
TokenAnswer ReadTokenAnswer(long status, const std::string& body);
// Raises ETokenEndpointError, saying why, unless the answer holds an access token that can be sent
// as a bearer token: token_type Bearer in any letter case (or none named), and only the token
// characters of RFC 6750 (letters, digits, "-._~+/", then "=" at the end).
void RequireBearerToken(const TokenAnswer& answer);

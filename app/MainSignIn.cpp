// The sign-in group of the main window: OAuth 2.0 sign-in in the user's browser, its settings,
// and the tokens the check signs in with.

#include "app/Main.h"
#include "app/MainTexts.h"
#include "base/Integers.h"
#include "shell/Launch.h"
#include "toolz/INIToolz.h"
#include "toolz/SettingsLocation.h"
#include "toolz/Toolz.h"
#include "transport/BearerSasl.h"

namespace {

constexpr std::u16string_view SettingsSection = u"Main";
constexpr std::u16string_view ProviderNames[] = {u"microsoft", u"google", u"custom"};

// A client ID a packager built in for a provider, used when the box is empty.
std::string BuiltInClientId(TOAuthProvider provider) {
    switch (provider) {
    case opMicrosoft:
        return BG_MICROSOFT_CLIENT_ID;
    case opGoogle:
        return BG_GOOGLE_CLIENT_ID;
    default:
        return "";
    }
}

// The folder of the settings file, where the token file goes when no secret store answers.
std::u16string SettingsFolder() {
    const std::u16string path = SettingsFilePath();
    const size_t separator = path.find_last_of(PathSeparators());
    return separator == std::u16string::npos ? u"." : path.substr(0, separator);
}

std::unique_ptr<SecretStore> OpenTokenStore() {
    if (auto store = OpenSystemSecretStore())
        return store;
    return OpenSecretFile(SettingsFolder());
}

} // namespace

TOAuthProvider TfrmMain::OAuthProvider() const {
    const int index = cmbOAuthProvider.ItemIndex();
    return index == opGoogle ? opGoogle : index == opCustom ? opCustom : opMicrosoft;
}

std::optional<OAuthProviderConfig> TfrmMain::ShownPreset() const {
    return ProviderPreset(ProviderNames[OAuthProvider()],
                          Protocol() == mpIMAP ? MailboxProtocol::Imap : MailboxProtocol::Pop3);
}

// The shown preset's server, port and TLS for the shown protocol, where the server box is empty or
// holds what a preset fills in (of any provider or protocol): the user's own server stays, and so
// does a port of the user's own.
void TfrmMain::FillInPreset() {
    const auto preset = ShownPreset();
    const std::u16string server = txtPOP3Server.Text();
    if (!preset || !(server.empty() || IsPresetServer(server)))
        return;
    txtPOP3Server.SetText(preset->Server);
    const std::u16string port = txtPort.Text();
    if (port.empty() || port == u"110" || port == u"143" || port == u"995" || port == u"993")
        txtPort.SetText(IntToText(preset->Port));
    if (!cbTLS.Checked())
        cbTLS.SetChecked(true);
}

OAuthClient TfrmMain::CurrentOAuthClient() const {
    OAuthClient client;
    const TOAuthProvider provider = OAuthProvider();
    if (auto preset = ShownPreset()) {
        client.Provider = *preset;
    } else {
        client.Provider.AuthorizeUrl = TextToUtf8(txtOAuthAuthorizeUrl.Text());
        client.Provider.TokenUrl = TextToUtf8(txtOAuthTokenUrl.Text());
        client.Provider.Scope = TextToUtf8(txtOAuthScope.Text());
    }
    client.ClientId = TextToUtf8(txtOAuthClientId.Text());
    if (client.ClientId.empty())
        client.ClientId = BuiltInClientId(provider);
    client.ClientSecret = TextToUtf8(txtOAuthClientSecret.Text());
    return client;
}

TokenStore& TfrmMain::Tokens() {
    const OAuthClient client = CurrentOAuthClient();
    const std::u16string entry = TokenEntryName(txtPOP3Server.Text(), txtUserName.Text());
    // A store belongs to one mailbox and one client at one provider.
    const std::u16string key =
        entry + u"\n" +
        Utf8ToText(client.ClientId + "\n" + client.ClientSecret + "\n" + client.Provider.AuthorizeUrl + "\n" +
                   client.Provider.TokenUrl + "\n" + client.Provider.Scope);
    if (!tokens_ || key != tokensKey_) {
        // A sign-in still waiting was for the settings as they were: it ends with their store.
        signIn_.reset();
        TimerSignIn.SetEnabled(false);
        tokens_ = std::make_unique<TokenStore>(client, OpenTokenStore(), entry);
        tokensKey_ = key;
    }
    return *tokens_;
}

void TfrmMain::cbOAuthClick(TObject*) {
    if (cbOAuth.Checked() && !loadingSettings_)
        FillInPreset();
    ApplySignInMode();
}

void TfrmMain::cmbOAuthProviderChange(TObject*) {
    FillInPreset();
    ApplySignInMode();
}

void TfrmMain::btnSignInClick(TObject*) {
    StartSignIn();
}

void TfrmMain::btnSignOutClick(TObject*) {
    EraseStoredTokens();
    ShowSignInState();
}

void TfrmMain::TimerSignInTimer(TObject*) {
    if (!signIn_) {
        TimerSignIn.SetEnabled(false);
        return;
    }
    const OAuthSignIn::State state = signIn_->Poll();
    if (state == OAuthSignIn::State::Waiting)
        return;
    TimerSignIn.SetEnabled(false);
    signInError_ = state == OAuthSignIn::State::Failed ? signIn_->Reason() : std::u16string();
    ShowSignInState();
    if (state == OAuthSignIn::State::SignedIn && !Visible())
        CheckMailbox();
    else
        ShowTrayState(LastMessageCount);
}

void TfrmMain::StartSignIn() {
    const TUiLanguage language = CurrentUiLanguage();
    signIn_ = std::make_unique<OAuthSignIn>(
        Tokens(), [](const std::string& url) { return ShellOpenDocument(Utf8ToText(url)); });
    signInError_.clear();
    try {
        signIn_->Start(TextToUtf8(txtUserName.Text()), SignInPages(language));
        if (signIn_->Current() == OAuthSignIn::State::Failed)
            signInError_ = signIn_->Reason();
        else
            TimerSignIn.SetEnabled(true);
    } catch (const Exception& failure) {
        signInError_ = failure.Message();
    }
    ShowSignInState();
    if (!signInError_.empty() && !Visible())
        ShowTrayState(LastMessageCount);
}

void TfrmMain::EraseStoredTokens() {
    signIn_.reset();
    TimerSignIn.SetEnabled(false);
    const std::u16string entry = TokenEntryName(txtPOP3Server.Text(), txtUserName.Text());
    tokens_.reset();
    // Everywhere: the token may have been kept in the file while no secret store answered.
    std::unique_ptr<SecretStore> stores[] = {OpenSystemSecretStore(), OpenSecretFile(SettingsFolder())};
    for (const auto& store : stores) {
        try {
            if (store)
                store->Erase(entry);
        } catch (const Exception&) {
        }
    }
}

bool TfrmMain::TokenStored() {
    try {
        return Tokens().HasRefreshToken();
    } catch (const Exception&) {
        return false;
    }
}

void TfrmMain::ApplySignInMode() {
    ArrangeSettingsColumn();
    txtPassword.SetEnabled(!cbOAuth.Checked());
    ShowSignInState();
}

void TfrmMain::EnableSignIn() {
    const OAuthClient client = CurrentOAuthClient();
    btnSignIn.SetEnabled(cbOAuth.Checked() && !client.ClientId.empty() &&
                         !client.Provider.AuthorizeUrl.empty() && !client.Provider.TokenUrl.empty());
}

void TfrmMain::ShowSignInState() {
    const TUiLanguage language = CurrentUiLanguage();
    EnableSignIn();
    btnSignOut.SetEnabled(false);
    if (!cbOAuth.Checked()) {
        lblSignInState.SetCaption(u"");
        lblTokenPlace.SetCaption(u"");
        return;
    }
    // The read may find the token stored for another client or scope: sign in again then.
    bool stored = false;
    try {
        stored = tokens_ && !tokens_->SignInNeeded() && tokens_->HasRefreshToken();
    } catch (const Exception&) {
    }
    TSignInState state = stored ? ssSignedIn : ssSignedOut;
    if (signIn_ && signIn_->Current() == OAuthSignIn::State::Waiting)
        state = ssWaiting;
    else if (!signInError_.empty())
        state = ssFailed;
    std::u16string detail = signInError_;
    if (state == ssSignedOut && tokens_ && tokens_->SignInNeeded()) {
        state = ssSignInAgain;
        detail = SignInAgainReason(language, tokens_->Cause(), tokens_->Refusal());
    }
    // Sign out erases the stored token: with none there is nothing to sign out of.
    btnSignOut.SetEnabled(stored);
    lblSignInState.SetCaption(SignInStateText(language, state, detail));
    lblTokenPlace.SetCaption(tokens_ ? TokenPlaceText(language, tokens_->Where()) : u"");
}

void TfrmMain::LoadSignInSettings() {
    auto loadText = [](TEdit& edit, std::u16string_view key) {
        edit.SetText(ReadIniString(SettingsSection, key, edit.Text()));
    };
    const std::u16string provider = AsciiLowerCase(ReadIniString(SettingsSection, u"OAuthProvider", u""));
    int providerIndex = opMicrosoft;
    for (int i = 0; i < 3; ++i)
        if (provider == ProviderNames[i])
            providerIndex = i;
    cmbOAuthProvider.SetItemIndex(providerIndex);
    loadText(txtOAuthClientId, u"OAuthClientId");
    loadText(txtOAuthClientSecret, u"OAuthClientSecret");
    loadText(txtOAuthAuthorizeUrl, u"OAuthAuthorizeUrl");
    loadText(txtOAuthTokenUrl, u"OAuthTokenUrl");
    loadText(txtOAuthScope, u"OAuthScope");
    loadingSettings_ = true; // the file's server and port stay as they are
    cbOAuth.SetChecked(IntegerFromText(ReadIniString(SettingsSection, u"SignIn", u""), siPassword) ==
                       siOAuth);
    loadingSettings_ = false;
    ApplySignInMode();
    if (cbOAuth.Checked())
        Tokens();
    ShowSignInState();
}

void TfrmMain::StoreSignInSettings() {
    WriteIniOptional(SettingsSection, u"SignIn", IntToText(SignInKind()), IntToText(siPassword));
    WriteIniOptional(SettingsSection, u"OAuthProvider", ProviderNames[OAuthProvider()],
                     ProviderNames[opMicrosoft]);
    WriteIniOptional(SettingsSection, u"OAuthClientId", txtOAuthClientId.Text(), u"");
    WriteIniOptional(SettingsSection, u"OAuthClientSecret", txtOAuthClientSecret.Text(), u"");
    WriteIniOptional(SettingsSection, u"OAuthAuthorizeUrl", txtOAuthAuthorizeUrl.Text(), u"");
    WriteIniOptional(SettingsSection, u"OAuthTokenUrl", txtOAuthTokenUrl.Text(), u"");
    WriteIniOptional(SettingsSection, u"OAuthScope", txtOAuthScope.Text(), u"");
}

std::string TfrmMain::BearerTokenForCheck() {
    const TUiLanguage language = CurrentUiLanguage();
    const TIdUseTLS useTLS = UseTLSSetting();
    if (useTLS != utUseImplicitTLS && useTLS != utUseRequireTLS)
        throw ESignInNeedsTls(SignInNeedsTlsText(language));
    try {
        return Tokens().AccessToken();
    } catch (const EIdException&) {
        // No refresh token, or the provider refused it: only the user can mend that.
        if (Tokens().SignInNeeded())
            throw ESignInNeeded(SignInAgainText(language, Tokens().Cause(), Tokens().Refusal()));
        throw;
    }
}

void TfrmMain::ConnectAndSignIn(const std::function<void(const std::string& token)>& connect) {
    if (SignInKind() == siPassword)
        return connect({});
    for (bool retried = false;; retried = true) {
        try {
            return connect(BearerTokenForCheck());
        } catch (const EBearerTokenRejected&) {
            Tokens().Rejected(!retried);
            if (retried)
                throw ESignInNeeded(SignInAgainText(CurrentUiLanguage(), SignInCause::Rejected));
        }
    }
}

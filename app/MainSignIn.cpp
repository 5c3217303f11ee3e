// The sign-in group of the main window: OAuth 2.0 sign-in in the user's browser, its settings,
// and the tokens the check signs in with.

#include "app/Main.h"
#include "app/MainTexts.h"
#include "base/Integers.h"
#include "shell/Launch.h"
#include "toolz/INIToolz.h"
#include "toolz/Toolz.h"

TOAuthProvider TfrmMain::OAuthProvider() const {
    const int index = cmbOAuthProvider.ItemIndex();
    return index == opGoogle ? opGoogle : index == opCustom ? opCustom : opMicrosoft;
}

std::optional<OAuthProviderConfig> TfrmMain::ShownPreset() const {
    return ProviderPreset(OAuthProviderName(OAuthProvider()),
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
    if (port.empty() || IsDefaultPort(port))
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

BackgroundTokens& TfrmMain::Tokens() {
    const OAuthClient client = CurrentOAuthClient();
    const std::u16string entry = TokenEntryName(txtPOP3Server.Text(), txtUserName.Text());
    // A store belongs to one mailbox and one client at one provider.
    const std::u16string key =
        entry + u"\n" +
        Utf8ToText(client.ClientId + "\n" + client.ClientSecret + "\n" + client.Provider.AuthorizeUrl + "\n" +
                   client.Provider.TokenUrl + "\n" + client.Provider.Scope);
    if (!tokens_ || key != tokensKey_) {
        // A sign-in still waiting was for the settings as they were: it ends with their store, and
        // what the old store still does reports nowhere.
        signIn_.reset();
        TimerSignIn.SetEnabled(false);
        tokens_ = std::make_unique<BackgroundTokens>(client, entry, TokenFolder());
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
    // The code's exchange reports by itself.
    if (!signIn_ || signIn_->Current() == OAuthSignIn::State::Exchanging) {
        TimerSignIn.SetEnabled(false);
        return;
    }
    const OAuthSignIn::State state = signIn_->Poll();
    if (state == OAuthSignIn::State::Waiting)
        return;
    TimerSignIn.SetEnabled(false);
    if (state != OAuthSignIn::State::Exchanging)
        return SignInEnded();
    const OAuthSignIn::CodeGrant grant = signIn_->Grant();
    Tokens().ExchangeCode(grant.Code, grant.RedirectUri, grant.Verifier, [this](std::exception_ptr failure) {
        if (!signIn_)
            return;
        signIn_->Exchanged(failure ? std::optional(TokenFailureText(failure, {}, CurrentUiLanguage()))
                                   : std::nullopt);
        SignInEnded();
    });
}

void TfrmMain::SignInEnded() {
    const OAuthSignIn::State state = signIn_->Current();
    signInError_ = state == OAuthSignIn::State::Failed ? signIn_->Reason() : std::u16string();
    ShowSignInState();
    if (state == OAuthSignIn::State::SignedIn)
        MailboxInChecks(ShownMailbox()).ForgetTokens(); // it reads the new token when it checks
    if (state == OAuthSignIn::State::SignedIn && !Visible())
        CheckMailbox();
    else
        ShowTrayState();
}

void TfrmMain::StartSignIn() {
    const TUiLanguage language = CurrentUiLanguage();
    signIn_ = std::make_unique<OAuthSignIn>(
        Tokens().Client(), [](const std::string& url) { return ShellOpenDocument(Utf8ToText(url)); });
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
        ShowTrayState();
}

void TfrmMain::EraseStoredTokens() {
    signIn_.reset();
    TimerSignIn.SetEnabled(false);
    // The keyring and the file: the token may have been kept in the file while no keyring answered.
    Tokens().SignOut([this](std::exception_ptr) { ShowSignInState(); });
    MailboxInChecks(ShownMailbox()).ForgetTokens();
}

void TfrmMain::SignInOrCheck() {
    if (SignInKind() != siOAuth)
        return CheckMailbox();
    Tokens().ReadStored([this](std::exception_ptr failure) {
        if (Visible() || SignInWaiting())
            return;
        if (failure) {
            // The keyring did not answer: a new sign-in would keep a second token elsewhere.
            MailboxInChecks(ShownMailbox()).ShowFailure(TokenFailureText(failure, {}, CurrentUiLanguage()));
            ShowSignInState();
        } else if (tokens_->Last().stored == false) {
            StartSignIn();
        } else {
            CheckMailbox();
        }
    });
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
    BackgroundTokens& tokens = Tokens();
    const BackgroundTokens::Report& last = tokens.Last();
    // Not read yet: it is read off this thread, and shown when it has come.
    if (!last.stored && !tokens.Busy())
        tokens.ReadStored([this](std::exception_ptr) { ShowSignInState(); });
    TSignInState state = ssSignedOut;
    if (SignInWaiting())
        state = ssWaiting;
    else if (!signInError_.empty())
        state = ssFailed;
    else if (last.signInNeeded)
        state = ssSignInAgain;
    else if (last.stored)
        state = *last.stored ? ssSignedIn : ssSignedOut;
    const bool known = last.stored || state != ssSignedOut;
    const std::u16string detail =
        state == ssSignInAgain ? SignInAgainReason(language, last.cause, last.refusal) : signInError_;
    // Sign out erases the stored token: with none there is nothing to sign out of.
    btnSignOut.SetEnabled(last.stored.value_or(false) && !last.signInNeeded);
    lblSignInState.SetCaption(known ? SignInStateText(language, state, detail) : u"");
    using Keyring = KeyringOrFile::Keyring;
    std::u16string place;
    if (last.keyring == Keyring::NoAnswer)
        place = KeyringNoAnswerText(language);
    else if (last.keyring != Keyring::Untried)
        place = (last.keyring == Keyring::StayedLocked ? KeyringLockedText(language) + u" " : u"") +
                TokenPlaceText(language, last.where);
    lblTokenPlace.SetCaption(place);
}

void TfrmMain::LoadSignInSettings(const MailboxSettings& mailbox) {
    cmbOAuthProvider.SetItemIndex(mailbox.oauthProvider);
    txtOAuthClientId.SetText(mailbox.oauthClientId);
    txtOAuthClientSecret.SetText(mailbox.oauthClientSecret);
    txtOAuthAuthorizeUrl.SetText(mailbox.oauthAuthorizeUrl);
    txtOAuthTokenUrl.SetText(mailbox.oauthTokenUrl);
    txtOAuthScope.SetText(mailbox.oauthScope);
    loadingSettings_ = true; // the file's server and port stay as they are
    cbOAuth.SetChecked(mailbox.signIn == siOAuth);
    loadingSettings_ = false;
    ApplySignInMode();
}

void TfrmMain::StoreSignInSettings(MailboxSettings& mailbox) const {
    mailbox.signIn = SignInKind();
    mailbox.oauthProvider = OAuthProvider();
    mailbox.oauthClientId = txtOAuthClientId.Text();
    mailbox.oauthClientSecret = txtOAuthClientSecret.Text();
    mailbox.oauthAuthorizeUrl = txtOAuthAuthorizeUrl.Text();
    mailbox.oauthTokenUrl = txtOAuthTokenUrl.Text();
    mailbox.oauthScope = txtOAuthScope.Text();
}

// The checks of the mailboxes, as the window asks for them, and what they show in the tray.

#include <algorithm>
#include <cstdint>

#include "app/Main.h"
#include "app/MainTexts.h"
#include "app/NewMailNotice.h"
#include "app/TraySummary.h"
#include "toolz/MMToolz.h"
#include "toolz/Toolz.h"

void TfrmMain::CheckMailbox() {
    CheckMailboxes(false);
}

void TfrmMain::CheckMailboxes(bool byTimer) {
    if (Visible())
        return;
    BuildMailboxes();
    for (const std::unique_ptr<Mailbox>& mailbox : mailboxes_)
        if (MayCheck(*mailbox))
            mailbox->Check(byTimer);
}

bool TfrmMain::MayCheck(const Mailbox& mailbox) const {
    return !Visible() && ReadyToCheck(mailbox.Settings(), savedSettings_.shared);
}

void TfrmMain::BuildMailboxes() {
    const std::vector<MailboxSettings>& wanted = savedSettings_.mailboxes;
    if (mailboxes_.size() > wanted.size())
        mailboxes_.resize(wanted.size());
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (i == mailboxes_.size())
            mailboxes_.push_back(std::make_unique<Mailbox>(wanted[i], TokenFolder(), MailboxEvents()));
        else if (mailboxes_[i]->Settings() != wanted[i])
            mailboxes_[i]->Reconfigure(wanted[i]);
    }
    if (mailboxes_.empty())
        mailboxes_.push_back(std::make_unique<Mailbox>(MailboxSettings{}, TokenFolder(), MailboxEvents()));
}

Mailbox::Events TfrmMain::MailboxEvents() {
    Mailbox::Events events;
    events.checked = [this](Mailbox& mailbox, int32_t previous,
                            const std::vector<NewMessageHeader>& headers) {
        MailboxChecked(mailbox, previous, headers);
    };
    events.checkAgain = [this](Mailbox& mailbox) {
        if (MayCheck(mailbox))
            mailbox.Check();
    };
    events.mayCheck = [this](Mailbox& mailbox) { return MayCheck(mailbox); };
    events.putOff = [this](Mailbox&) { ArmLoginDelay(); };
    // The sign-in group keeps tokens of its own for the mailbox it shows: when they are the same
    // client's, the group asks for a new sign-in too.
    events.rejectedAgain = [this](Mailbox& mailbox) {
        if (SignInKind() != siOAuth)
            return;
        BackgroundTokens& shown = Tokens(); // made anew when the boxes name another client
        if (mailbox.TokensKey() == tokensKey_)
            shown.RejectedAgain([this](std::exception_ptr) { ShowSignInState(); });
    };
    return events;
}

Mailbox& TfrmMain::MailboxInChecks(size_t index) {
    BuildMailboxes();
    return *mailboxes_[std::min(index, mailboxes_.size() - 1)];
}

bool TfrmMain::ChecksRunning() const {
    return std::any_of(mailboxes_.begin(), mailboxes_.end(),
                       [](const std::unique_ptr<Mailbox>& mailbox) { return mailbox->Busy(); });
}

// Only the mailboxes put off are checked when the time comes; the others keep their turn.
void TfrmMain::TimerLoginDelayTimer(TObject*) {
    TimerLoginDelay.SetEnabled(false);
    const auto now = std::chrono::steady_clock::now();
    for (const std::unique_ptr<Mailbox>& mailbox : mailboxes_)
        if (mailbox->PutOffUntil() && *mailbox->PutOffUntil() <= now && MayCheck(*mailbox))
            mailbox->Check();
    ArmLoginDelay();
}

void TfrmMain::ArmLoginDelay() {
    std::optional<std::chrono::steady_clock::time_point> first;
    for (const std::unique_ptr<Mailbox>& mailbox : mailboxes_)
        if (mailbox->PutOffUntil() && (!first || *mailbox->PutOffUntil() < *first))
            first = mailbox->PutOffUntil();
    TimerLoginDelay.SetEnabled(false);
    if (!first)
        return;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*first - std::chrono::steady_clock::now());
    TimerLoginDelay.SetOnTimer(MethodEvent(this, &TfrmMain::TimerLoginDelayTimer));
    TimerLoginDelay.SetInterval(static_cast<uint32_t>(std::max<int64_t>(left.count(), 1)));
    TimerLoginDelay.SetEnabled(true);
}

void TfrmMain::MailboxChecked(Mailbox& mailbox, int32_t previous,
                              const std::vector<NewMessageHeader>& newHeaders) {
    ShowTrayState();
    const int32_t count = mailbox.LastCount();
    if (count > previous) {
        PlayWaveFile(savedSettings_.shared.pathToSound, true);
        ShowNewMailNotice(mailbox, int64_t{count} - previous, newHeaders);
    }
}

// After a restart the count grows from 0 and the newest messages may all have been named by a
// notice of an earlier run: the notice then names only those ahead of them, or is not shown.
void TfrmMain::ShowNewMailNotice(const Mailbox& mailbox, int64_t arrived,
                                 const std::vector<NewMessageHeader>& newest) {
    if (!mailbox.Settings().notify)
        return;
    const std::string key = mailbox.AnnouncedKey();
    const AnnouncedMessages::Unannounced fresh = announced_.Filter(key, newest);
    if (fresh.upToAnnounced) {
        if (fresh.messages.empty())
            return;
        arrived = static_cast<int64_t>(fresh.messages.size());
    }
    std::vector<std::string> headers;
    for (const NewMessageHeader& message : fresh.messages)
        headers.push_back(message.header);
    const TUiLanguage language = CurrentUiLanguage();
    NewMailNoticeText notice = ComposeNewMailNotice(arrived, headers, language);
    if (mailboxes_.size() > 1) {
        const size_t index = static_cast<size_t>(
            std::find_if(mailboxes_.begin(), mailboxes_.end(),
                         [&](const std::unique_ptr<Mailbox>& each) { return each.get() == &mailbox; }) -
            mailboxes_.begin());
        notice.summary = MailboxDisplayName(mailbox.Settings(), index, language) + u": " + notice.summary;
    }
    TrayIconMain.ShowNotice(notice.summary, notice.body);
    announced_.Remember(key, fresh.messages);
}

// A failed check shows the trouble image and says so instead of a count, which would then be one
// it did not get; with one mailbox the second line gives the reason.
void TfrmMain::ShowTrayState() {
    const TUiLanguage language = CurrentUiLanguage();
    std::vector<MailboxTrayState> states;
    for (size_t i = 0; i < mailboxes_.size(); ++i) {
        const Mailbox& mailbox = *mailboxes_[i];
        states.push_back({mailboxes_.size() > 1 ? MailboxDisplayName(mailbox.Settings(), i, language) : u"",
                          mailbox.LastCount(), mailbox.LastCheckFailed(), mailbox.LastCheckError(),
                          !mailbox.CheckEnded()});
    }
    const TraySummary tray =
        SummarizeTray(states, signInError_.empty() ? u"" : SignInFailedLine(language, signInError_), language,
                      TTrayIcon::MaxHintLength);
    TrayIconMain.SetImageIndex(tray.image);
    TrayIconMain.SetHint(tray.tip);
}

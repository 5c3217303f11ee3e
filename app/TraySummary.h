#pragma once
// What the tray shows for the mailboxes' last checks: the image from the total count, and a tip
// that gives the total and, with several mailboxes, each mailbox's count by name.
//
//     const TraySummary tray = SummarizeTray(states, signInLine, language, TTrayIcon::MaxHintLength);
//     TrayIconMain.SetImageIndex(tray.image);
//     TrayIconMain.SetHint(tray.tip);

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/TrayImages.h"
#include "toolz/Toolz.h"

// One mailbox as its last check left it.
struct MailboxTrayState {
    std::u16string name;    // what the tip calls it (with several mailboxes)
    int32_t count = 0;      // the count its last successful check got
    bool failed = false;    // its last check failed before the count arrived
    std::u16string failure; // why, on one line (shown with one mailbox)
    bool pending = false;   // no check has ended yet: there is no count to show
};

struct TraySummary {
    TrayImage image = tiNoMail;
    std::u16string tip;
};

// "You have 5 new e-mail messages." / "Du har 5 nya e-postmeddelanden."
std::u16string MessageCountTip(int64_t count, TUiLanguage language);

// One mailbox: its count tip, or "The mailbox could not be checked." with the failure on the
// next line and the failure image. Several: the total of those whose last check succeeded, then
// "<name>: <count>", "<name>: check failed" or, before its first check has ended, "<name>: …" a
// line each; the failure image only when every
// check failed. signInLine (when not empty) ends the tip. With several mailboxes, a tip longer
// than tipLimit has its names shortened with "…" first (the total line stays whole), then is cut
// at tipLimit.
TraySummary SummarizeTray(const std::vector<MailboxTrayState>& mailboxes, const std::u16string& signInLine,
                          TUiLanguage language, size_t tipLimit);

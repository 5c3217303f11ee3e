"""The settings file and the tray tip of a program that watches several mailboxes, for the whole-program
tests and the benchmarks.

    text = mailboxes_file_text(shared, [first, second, third])   # [Main], [Mailbox2], [Mailbox3]
    count_tip(5, "/ENGLISH")                   # "You have 5 new e-mail messages."
    mailbox_counts(icon.tip())                 # {"Work": 3, "bertil": "check failed", ...}

[Main] holds the first mailbox with the keys every mailbox shares (mail program, sound, WWW); each
further mailbox is a section [MailboxN] of its own keys, user name and password scrambled as in [Main].
"""

import re

from desktop_rig import scramble_credential, settings_file_text

COUNT_TIPS = {
    "/ENGLISH": ("You have no new e-mail messages.", "You have 1 new e-mail message.",
                 "You have {} new e-mail messages."),
    "/SWEDISH": ("Du har inga nya e-postmeddelanden.", "Du har 1 nytt e-postmeddelande.",
                 "Du har {} nya e-postmeddelanden."),
}
CHECK_FAILED = {"/ENGLISH": "check failed", "/SWEDISH": "kontrollen misslyckades"}


def mailboxes_file_text(shared, mailboxes):
    """INI text: shared keys (PathToClient, PathToSound, WWW) and the first mailbox's keys in [Main], each
    further mailbox's keys (a dict each, in the order given) in [Mailbox2], [Mailbox3] ..."""
    text = settings_file_text({**mailboxes[0], **shared})
    for number, mailbox in enumerate(mailboxes[1:], start=2):
        lines = [f"[Mailbox{number}]"]
        for key, value in mailbox.items():
            value = scramble_credential(str(value)) if key in ("UserName", "Password") else value
            lines.append(f"{key}={value}")
        text += "\r\n".join(lines) + "\r\n"
    return text


def count_tip(count, language="/ENGLISH"):
    none, one, many = COUNT_TIPS[language]
    return none if count == 0 else one if count == 1 else many.format(count)


def mailbox_counts(tip):
    """{name: count, or the failure text} of the tip's per-mailbox lines (all lines after the first)."""
    counts = {}
    for line in tip.splitlines()[1:]:
        name, _, value = line.rpartition(": ")
        counts[name] = int(value) if re.fullmatch(r"\d+", value) else value
    return counts

#!/usr/bin/python3
"""Whole-program test of one program watching three mailboxes on three real servers it does not share
with anything: a Dovecot IMAP user with IDLE, a Dovecot POP3 user over STLS with the test CA, and a
GNU mailutils pop3d user. The tip gives the total and each mailbox's count by name, the image follows
the total (the first mailbox is empty), each mailbox whose count grew gets a notice named after it,
the IDLE mailbox's push raises its line and the total, and a server that is gone marks its own line
failed while the others keep their counts."""

import contextlib
import os

from desktop_rig import wait_for
from desktop_test import DesktopTestCase, main, program_path
from dovecot_server import DovecotServer
from mailutils_server import MailutilsPop3Server
from notice_server import NoticeServer
from program_steps import complete_settings, wait_first_check, wait_started
from several_mailboxes import count_tip, mailboxes_file_text
from tray_tools import LETTER_SLOT

# Each mailbox: its server, the keys of its section beyond server, port, user and password, and the
# name the tip gives it (its Name, else its user name). The first one, [Main], is the empty one.
MAILBOXES = (
    (lambda: DovecotServer(0, user="bertil", protocol="imap"), {"Protocol": 1}, "bertil"),
    (lambda: DovecotServer(3, tls=True), {"UseTLS": 2, "Name": "Work"}, "Work"),
    (lambda: MailutilsPop3Server(2), {"Name": "Home"}, "Home"),
)
PUSH_SECONDS = 5


class SeveralMailboxesTest(DesktopTestCase):
    def test_tip_counts_each_mailbox_by_name_notices_name_it_and_a_gone_server_fails_its_own_line(self):
        with contextlib.ExitStack() as stack:
            servers = [stack.enter_context(make()) for make, _, _ in MAILBOXES]
            sections = [dict(POP3Server=server.address, Port=server.port, UserName=server.user,
                             Password=server.password, **keys) for server, (_, keys, _) in zip(servers, MAILBOXES)]
            names = [name for _, _, name in MAILBOXES]
            counts = {name: server.initial_count for name, server in zip(names, servers)}
            imap, tls, mailutils = servers

            desktop = self.desktop(tray="sni")
            notices = NoticeServer(desktop)
            shared = {key: value for key, value in complete_settings(0).items()
                      if key in ("PathToClient", "PathToSound", "WWW")}
            # The test CA and nothing else is trusted, for this program only.
            no_more_authorities = os.path.join(desktop.folder, "no-more-authorities")
            os.mkdir(no_more_authorities)
            run = desktop.start_program(program_path(), ["/ENGLISH"], settings=mailboxes_file_text(shared, sections),
                                        env={"SSL_CERT_FILE": tls.ca_file, "SSL_CERT_DIR": no_more_authorities})
            icon = wait_started(run)

            def expected_tip():
                return "\n".join([count_tip(sum(c for c in counts.values() if isinstance(c, int))),
                                  *(f"{name}: {counts[name]}" for name in names)])

            wait_first_check(icon)
            self.wait_tip(icon, expected_tip(), 15, "the first checks")
            self.assertEqual(icon.image(), LETTER_SLOT, "the image of the total, not of the empty first mailbox")
            started = notices.wait_count(2)
            self.assertCountEqual([notice["summary"] for notice in started],
                                  ["Work: 3 new e-mail messages", "Home: 2 new e-mail messages"])

            imap.add_message(subject="Pushed")
            counts["bertil"] += 1
            pushed = notices.wait_count(3, PUSH_SECONDS)[-1]
            self.assertEqual((pushed["summary"], pushed["body"]),
                             ("bertil: 1 new e-mail message", "sender@bg.test: Pushed"))
            self.wait_tip(icon, expected_tip(), PUSH_SECONDS, "the pushed count")

            mailutils.stop()
            counts["Home"] = "check failed"
            desktop.press_keys("ctrl+alt+F5")
            self.wait_tip(icon, expected_tip(), 15, "the hot key's checks")
            self.assertEqual(icon.image(), LETTER_SLOT)

    def wait_tip(self, icon, expected, seconds, what):
        try:
            wait_for(lambda: icon.tip() == expected, seconds, what)
        except TimeoutError:
            self.assertEqual(icon.tip(), expected, what)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Whole-program test of the IMAP watch against a private Dovecot: after the first check the program
waits in IDLE, so the tray tip follows another client's changes within seconds, long before the
60-second timer ticks; when the server ends the session, the program reconnects and counts right."""

import imaplib
import time

from desktop_rig import wait_for
from desktop_test import DesktopTestCase, main, program_path
from dovecot_server import DovecotServer
from program_steps import complete_settings, wait_first_check, wait_started

UNSEEN = "You have {} new e-mail messages."
# Dovecot tells an idling session of a change after 0.5 s: a few seconds is a safe bound.
PUSH_SECONDS = 5

MESSAGE = b"From: sender@bg.test\r\nTo: anna@bg.test\r\nSubject: Appended\r\n\r\nBody.\r\n"


def imap_settings(server):
    return dict(complete_settings(server.port), UserName=server.user, Password=server.password, Protocol=1)


class ImapWatchTest(DesktopTestCase):
    def test_tip_follows_another_clients_changes_at_once_and_a_dropped_session_is_taken_up_again(self):
        with DovecotServer(message_count=2, protocol="imap") as server:
            desktop = self.desktop(tray="sni")
            started = time.monotonic()
            icon = wait_started(desktop.start_program(program_path(), ["/ENGLISH"], settings=imap_settings(server)))
            self.assertEqual(wait_first_check(icon), UNSEEN.format(2))

            other = imaplib.IMAP4("127.0.0.1", server.port)
            other.login(server.user, server.password)
            other.append("INBOX", None, None, MESSAGE)
            wait_for(lambda: icon.tip() == UNSEEN.format(3), PUSH_SECONDS, "the appended message's push")
            other.select("INBOX")
            other.store("1:2", "+FLAGS", "\\Seen")
            wait_for(lambda: icon.tip() == "You have 1 new e-mail message.", PUSH_SECONDS, "the push of two read")
            other.logout()
            self.assertLess(time.monotonic() - started, 60, "the timer must not have ticked")

            server.kick()
            server.add_message()
            wait_for(lambda: icon.tip() == UNSEEN.format(2), 15, "the count after the reconnect")
            server.add_message()
            wait_for(lambda: icon.tip() == UNSEEN.format(3), PUSH_SECONDS, "a push on the new connection")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Whole-program tests of the new-mail notice against a private Dovecot and the session's notification
service (dunst): the notice names how many messages arrived and, decoded, who wrote about what; a newer
notice replaces the one on screen; a check without growth shows nothing and fetches no header; with
Notify 0 no notice is shown; the notice's default action starts the mail program; after a restart only
mail that no earlier notice named is announced. Over IMAP the push of
the watch brings the notice, and naming the messages leaves them unseen."""

import os
import stat
import time

from desktop_rig import wait_for
from desktop_test import DesktopTestCase, main, program_path
from dovecot_server import DovecotServer
from notice_server import NoticeServer
from program_steps import complete_settings, wait_first_check, wait_started

ORJAN = "=?UTF-8?Q?=C3=96rjan_Ek?= <x@example.test>"
GRUSSE = "=?UTF-8?B?R3LDvMOfZSBmcsOlbiDDhXNh?="
MOTE = "=?ISO-8859-1?Q?M=F6te_i_morgon?="


class NewMailNoticeTest(DesktopTestCase):
    def start(self, server, desktop=None, notices=None, **settings):
        """The session with its notice server (new ones unless given), and the program checking the
        server's mailbox (self.run)."""
        desktop = desktop or self.desktop(tray="sni")
        notices = notices or NoticeServer(desktop)
        marker = os.path.join(desktop.folder, "mail-program-started")
        mail_program = os.path.join(desktop.folder, "mail-program")
        with open(mail_program, "w") as script:
            script.write(f"#!/bin/sh\ntouch '{marker}'\n")
        os.chmod(mail_program, stat.S_IRWXU)
        settings = dict(complete_settings(server.port), UserName=server.user, Password=server.password,
                        PathToClient=mail_program, **settings)
        self.run = desktop.start_program(program_path(), ["/ENGLISH"], settings=settings)
        icon = wait_started(self.run)
        return desktop, notices, icon, marker

    def test_notice_names_the_decoded_senders_and_subjects_and_a_click_starts_the_mail_program(self):
        with DovecotServer(message_count=1) as server:
            desktop, notices, icon, marker = self.start(server)
            self.assertEqual(wait_first_check(icon), "You have 1 new e-mail message.")
            first, = notices.wait_count(1)
            self.assertEqual((first["app"], first["summary"], first["body"]),
                             ("Mailhatch 1.10", "1 new e-mail message", "sender@bg.test: Message 1"))

            server.add_message(ORJAN, GRUSSE)
            server.add_message(ORJAN, MOTE)
            desktop.press_keys("ctrl+alt+F5")
            wait_for(lambda: icon.tip() == "You have 3 new e-mail messages.", 15, "the hot key's check")
            second = notices.wait_count(2)[-1]
            self.assertEqual(second["summary"], "2 new e-mail messages")
            self.assertEqual(second["body"], "Örjan Ek: Möte i morgon\nÖrjan Ek: Grüße från Åsa")
            self.assertEqual(second["id"], first["id"], "the newer notice replaces the one on screen")
            self.assertRegex(server.session_ends()[-1], r"^top=2/")

            # No growth: no notice, and the session fetches no header.
            sessions = len(server.session_ends())
            desktop.press_keys("ctrl+alt+F5")
            wait_for(lambda: len(server.session_ends()) > sessions, 15, "the check without growth")
            self.assertRegex(server.session_ends()[-1], r"^top=0/0,")
            time.sleep(0.5)
            self.assertEqual(len(notices.shown()), 2)

            notices.invoke_default()
            wait_for(lambda: os.path.exists(marker), 10, "the mail program started by the notice")

    def test_after_a_restart_old_mail_gives_no_notice_and_a_new_message_one(self):
        for protocol in (0, 1):
            with self.subTest(protocol=protocol), \
                    DovecotServer(message_count=2, protocol=("pop3", "imap")[protocol]) as server:
                desktop, notices, icon, _ = self.start(server, Protocol=protocol)
                self.assertEqual(wait_first_check(icon), "You have 2 new e-mail messages.")
                self.assertEqual(notices.wait_count(1)[0]["summary"], "2 new e-mail messages")

                self.run.stop()
                _, _, icon, _ = self.start(server, desktop, notices, Protocol=protocol)
                self.assertEqual(wait_first_check(icon), "You have 2 new e-mail messages.")
                time.sleep(1)
                self.assertEqual(len(notices.shown()), 1, "the old mail was announced again")

                self.run.stop()
                server.add_message(subject="After the restart")
                _, _, icon, _ = self.start(server, desktop, notices, Protocol=protocol)
                self.assertEqual(wait_first_check(icon), "You have 3 new e-mail messages.")
                latest = notices.wait_count(2)[-1]
                self.assertEqual((latest["summary"], latest["body"]),
                                 ("1 new e-mail message", "sender@bg.test: After the restart"))

    def test_notify_0_shows_no_notice(self):
        with DovecotServer(message_count=2) as server:
            desktop, notices, icon, _ = self.start(server, Notify=0)
            self.assertEqual(wait_first_check(icon), "You have 2 new e-mail messages.")
            server.add_message(ORJAN, GRUSSE)
            desktop.press_keys("ctrl+alt+F5")
            wait_for(lambda: icon.tip() == "You have 3 new e-mail messages.", 15, "the hot key's check")
            time.sleep(1)
            self.assertEqual(notices.shown(), [])
            self.assertTrue(all(end.startswith("top=0/0,") for end in server.session_ends()))

    def test_imap_push_brings_the_notice_and_leaves_the_messages_unseen(self):
        with DovecotServer(message_count=1, protocol="imap") as server:
            desktop, notices, icon, _ = self.start(server, Protocol=1)
            self.assertEqual(wait_first_check(icon), "You have 1 new e-mail message.")
            notices.wait_count(1)
            server.add_message(ORJAN, GRUSSE)
            server.add_message(ORJAN, MOTE)
            pushed = wait_for(lambda: len(notices.shown()) >= 2 and notices.shown()[-1], 15, "the pushed notice")
            # The push may see one message before the other: what counts is that both were named.
            bodies = "\n".join(notice["body"] for notice in notices.shown()[1:])
            self.assertIn("Örjan Ek: Grüße från Åsa", bodies)
            self.assertIn("Örjan Ek: Möte i morgon", bodies)
            self.assertIn(pushed["summary"], ("1 new e-mail message", "2 new e-mail messages"))
            wait_for(lambda: icon.tip() == "You have 3 new e-mail messages.", 15, "the count of three unseen")
            desktop.press_keys("ctrl+alt+F5")
            time.sleep(1)
            self.assertEqual(icon.tip(), "You have 3 new e-mail messages.", "still unseen after the fetch")


if __name__ == "__main__":
    main()

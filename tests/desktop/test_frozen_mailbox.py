#!/usr/bin/python3
"""Whole-program test of two mailboxes checked side by side: one server is frozen (SIGSTOP, so it takes
the connection and never greets), yet the other mailbox's count reaches the tip at once, and the tray
answers within half a second throughout, until the frozen one's check gives up and its line says so."""

import os
import signal
import time

from desktop_test import DesktopTestCase, main, program_path
from dovecot_server import DovecotServer
from several_mailboxes import CHECK_FAILED, count_tip, mailbox_counts, mailboxes_file_text

SHARED = {"PathToClient": "/usr/bin/true", "PathToSound": "/nonexistent/new-mail.wav", "WWW": 0}
# The frozen server's check ends at its read time-out (5 s) after the greeting it waits for.
GIVE_UP_SECONDS = 20
TRAY_ANSWERS_WITHIN = 0.5


def mailbox(server, name):
    return {"POP3Server": "127.0.0.1", "Port": server.port, "UserName": server.user, "Password": server.password,
            "Name": name}


class FrozenMailboxTest(DesktopTestCase):
    def test_a_frozen_server_delays_only_its_own_line_and_the_tray_answers_within_half_a_second(self):
        with DovecotServer(message_count=2) as work, DovecotServer(message_count=3, user="bertil") as home:
            os.killpg(home.process.pid, signal.SIGSTOP)
            self.addCleanup(os.killpg, home.process.pid, signal.SIGCONT)
            desktop = self.desktop(tray="sni")
            text = mailboxes_file_text(SHARED, [mailbox(work, "Work"), mailbox(home, "Home")])
            icon = desktop.start_program(program_path(), ["/ENGLISH"], settings=text).wait_tray_icon()

            # Every read of the tip is answered by the program's event loop: the probe of the tray.
            started = time.monotonic()
            longest, tips = 0.0, []
            while time.monotonic() - started < GIVE_UP_SECONDS:
                asked = time.monotonic()
                tip = icon.tip()
                longest = max(longest, time.monotonic() - asked)
                if not tips or tips[-1][1] != tip:
                    tips.append((round(time.monotonic() - started, 2), tip))
                if mailbox_counts(tip).get("Home") == CHECK_FAILED["/ENGLISH"]:
                    break
                time.sleep(0.02)
            print(f"longest answer of the tray: {longest * 1000:.0f} ms; tips: {tips}")

            self.assertLess(longest, TRAY_ANSWERS_WITHIN)
            counted = [(at, tip) for at, tip in tips if mailbox_counts(tip).get("Work") == 2]
            self.assertTrue(counted, tips)
            self.assertEqual(counted[0][1].splitlines()[0], count_tip(2))
            failed = [at for at, tip in tips if mailbox_counts(tip).get("Home") == CHECK_FAILED["/ENGLISH"]]
            self.assertTrue(failed, tips)
            self.assertLess(counted[0][0], failed[0] - 2, "Work's count came before Home's check gave up")
            self.assertEqual(icon.tip(), count_tip(2) + "\nWork: 2\nHome: " + CHECK_FAILED["/ENGLISH"])


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Whole-program tests against a real POP3 server: a private Dovecot that the test starts. The tray
shows the mailbox's count and the sound plays as mail arrives; when the server is gone, the tray
shows the trouble image and says that the check failed. A server that refuses plain logins is counted
once the TLS box is ticked."""

import os

from desktop_rig import wait_for
from desktop_test import DesktopTestCase, main, program_path
from dovecot_server import DovecotServer
from program_steps import CHECK_FAILED, NOT_CHECKED, SoundAssertions, complete_settings, wait_first_check, wait_started
from settings_window import BUTTONS, click_into, click_tls_box
from sound_tools import write_two_tone_wav
from tray_tools import LETTER_SLOT, TROUBLE_SLOT

NEW_MAIL = {
    "/SWEDISH": "Du har {} nya e-postmeddelanden.",
    "/ENGLISH": "You have {} new e-mail messages.",
}


class DovecotTest(DesktopTestCase, SoundAssertions):
    def test_swedish_tray_follows_the_mailbox_and_says_so_when_the_server_is_gone(self):
        self.follow_the_mailbox("/SWEDISH")

    def test_english_tray_follows_the_mailbox_and_says_so_when_the_server_is_gone(self):
        self.follow_the_mailbox("/ENGLISH")

    def follow_the_mailbox(self, language):
        tip_for = NEW_MAIL[language].format
        with DovecotServer(message_count=3) as server:
            desktop = self.desktop(tray="sni", sound=True)
            sound = os.path.join(desktop.folder, "new-mail.wav")
            write_two_tone_wav(sound, 440, 1760, 0.6)
            settings = dict(complete_settings(server.port), UserName=server.user, Password=server.password,
                            PathToSound=sound)

            recorder = desktop.record_sound("first-check")
            icon = wait_started(desktop.start_program(program_path(), [language], settings=settings))
            self.assertEqual(wait_first_check(icon), tip_for(3))
            self.assertEqual(icon.image(), LETTER_SLOT)
            self.assertWholeSoundOnce(desktop, recorder)

            server.add_message()
            recorder = desktop.record_sound("fourth-message")
            desktop.press_keys("ctrl+alt+F5")
            wait_for(lambda: icon.tip() == tip_for(4), 15, "the hot key's check")
            self.assertWholeSoundOnce(desktop, recorder)

            server.stop()
            desktop.press_keys("ctrl+alt+F5")
            tip = wait_for(lambda: "\n" in icon.tip() and icon.tip(), 15,
                           "the check against the stopped server")
            first, second = tip.splitlines()
            self.assertEqual(first, NOT_CHECKED[language])
            self.assertTrue(second.startswith(CHECK_FAILED[language]), second)
            self.assertEqual(icon.image(), TROUBLE_SLOT)


class DovecotTlsTest(DesktopTestCase):
    def test_ticking_tls_and_saving_counts_a_mailbox_that_refuses_plain_logins(self):
        with DovecotServer(message_count=2, tls=True) as server:
            desktop = self.desktop(tray="sni")
            # The test CA and nothing else is trusted, for this program only.
            no_more_authorities = os.path.join(desktop.folder, "no-more-authorities")
            os.mkdir(no_more_authorities)
            settings = dict(complete_settings(server.port, server.address), UserName=server.user,
                            Password=server.password)
            run = desktop.start_program(program_path(), ["/ENGLISH"], settings=settings,
                                        env={"SSL_CERT_FILE": server.ca_file, "SSL_CERT_DIR": no_more_authorities})
            icon = wait_started(run)
            first, failure = wait_first_check(icon).splitlines()
            self.assertIn("Plaintext authentication disallowed", failure)

            icon.click_menu_item("_Settings...")
            window = run.wait_window()
            click_tls_box(desktop, window)
            click_into(desktop, window, BUTTONS["btnSave"])
            wait_for(lambda: icon.tip() == NEW_MAIL["/ENGLISH"].format(2), 15, "the check over TLS")
            with open(run.settings_path) as ini:
                self.assertIn("UseTLS=2", ini.read().splitlines())


if __name__ == "__main__":
    main()

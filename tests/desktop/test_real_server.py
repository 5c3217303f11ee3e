#!/usr/bin/python3
"""Whole-program tests against a real POP3 server: a private Dovecot that the test starts. The tray
shows the mailbox's count and the sound plays as mail arrives; when the server is gone, the tray
keeps the last count and says that the check failed."""

import os

from desktop_rig import wait_for
from desktop_test import DesktopTestCase, main, program_path
from dovecot_server import DovecotServer
from program_steps import CHECK_FAILED, SoundAssertions, complete_settings, wait_first_check, wait_started
from sound_tools import write_two_tone_wav
from tray_tools import LETTER_SLOT

NEW_MAIL = {
    "/SWEDISH": "Du har {} nya e-postmeddelanden.",
    "/ENGLISH": "You have {} new e-mail messages.",
}


class DovecotTest(DesktopTestCase, SoundAssertions):
    def test_swedish_tray_follows_the_mailbox_and_keeps_its_count_when_the_server_is_gone(self):
        self.follow_the_mailbox("/SWEDISH")

    def test_english_tray_follows_the_mailbox_and_keeps_its_count_when_the_server_is_gone(self):
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
            self.assertEqual(first, tip_for(4))
            self.assertTrue(second.startswith(CHECK_FAILED[language]), second)
            self.assertEqual(icon.image(), LETTER_SLOT)


if __name__ == "__main__":
    main()

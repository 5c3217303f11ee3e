"""Steps that several whole-program test scripts share: a complete set of settings, waiting for the
program's start-up and first check, and judging the new-mail sound in a recording."""

import time

from desktop_rig import wait_for

TITLE = "Brevgluggen 1.10"
ENGLISH_TITLE = "Mailhatch 1.10"
NO_MAIL = {"/ENGLISH": "You have no new e-mail messages.", "/SWEDISH": "Du har inga nya e-postmeddelanden."}
NOT_CHECKED = {"/ENGLISH": "The mailbox could not be checked.", "/SWEDISH": "Brevlådan kunde inte kontrolleras."}
CHECK_FAILED = {"/ENGLISH": "Check failed: ", "/SWEDISH": "Kontrollen misslyckades: "}


def complete_settings(port, server="127.0.0.1"):
    return {"POP3Server": server, "Port": port, "UserName": "anna", "Password": "hemligt",
            "PathToClient": "/usr/bin/true", "PathToSound": "/nonexistent/new-mail.wav", "WWW": 0}


def wait_started(run):
    """Waits for the tray icon and for an answer from the program's event loop: start-up (window
    creation, the first check and the hot-key grab) has then finished, and a grab probe can no longer
    get in the way of the program's own grab."""
    icon = run.wait_tray_icon()
    icon.tip()
    return icon


def wait_first_check(icon):
    """The tip after the start-up check (which replaces the title)."""
    return wait_for(lambda: icon.tip() if icon.tip() != TITLE else None, 15, "the first check")


class SoundAssertions:
    """For test cases that record the session's sound while the program checks."""

    def assertWholeSoundOnce(self, desktop, recorder):
        """The recording holds the two-tone sound (440 Hz, then 1760 Hz, 0.6 s) once, from its first
        tone to its last."""
        wait_for(recorder.heard, 15, "the new-mail sound")
        desktop.wait_until_nothing_plays()
        time.sleep(0.5)  # the null sink reports the end a little late
        tones = recorder.stop().tones()
        self.assertEqual(len(tones), 1, tones)
        (first_hz, last_hz, seconds), = tones
        self.assertAlmostEqual(first_hz, 440, delta=60)
        self.assertAlmostEqual(last_hz, 1760, delta=120)
        self.assertAlmostEqual(seconds, 0.6, delta=0.1)

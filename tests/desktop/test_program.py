#!/usr/bin/python3
"""Whole-program tests of the resident program on a private desktop: start-up into the tray (also
with a late, a restarted or a missing tray host, which the program waits for), the settings window
when the settings are incomplete, the check's tray state and sound, the hot key, the ways to quit,
and a second copy."""

import os
import signal
import time

from desktop_rig import CAPTIONS, wait_for
from desktop_test import DesktopTestCase, main, program_path
from notice_server import NoticeServer
from pop3_stub import Pop3Stub, closed_loopback_port
from program_steps import (CHECK_FAILED, NOT_CHECKED, TITLE, SoundAssertions, complete_settings,
                           wait_first_check, wait_started)
from sound_tools import write_two_tone_wav
from tray_tools import EMPTY_SLOT, LETTER_SLOT, TROUBLE_SLOT, corners_are_transparent


class ProgramTestCase(DesktopTestCase):
    def require_first_check(self, server):
        """Waits for the start-up check's session on the server; skips while the program has no
        POP3 client that reaches one."""
        try:
            wait_for(lambda: server.sessions == 1, 10, "the start-up check's session")
        except TimeoutError:
            self.skipTest("the program does not reach a POP3 server yet")


class StartUpTest(DesktopTestCase):
    def test_tray_icon_shows_the_empty_slot_and_the_title_before_any_check(self):
        for language in ("/ENGLISH", "/SWEDISH"):
            with self.subTest(language):
                desktop = self.desktop(tray="sni")
                icon = desktop.start_program(program_path(), [language]).wait_tray_icon()
                self.assertEqual(icon.tip(), TITLE)
                self.assertEqual(icon.image(), EMPTY_SLOT)
                width, height, rgba = icon.pixels()
                self.assertEqual((width, height), (16, 16))
                self.assertTrue(corners_are_transparent(width, height, rgba))
                self.assertEqual(icon.sizes(), [(16, 16), (32, 32), (48, 48)])

    def test_tray_icon_docks_in_an_xembed_tray_with_the_empty_slot(self):
        desktop = self.desktop(tray="xembed")
        icon = desktop.start_program(program_path()).wait_tray_icon()
        self.assertEqual(icon.image(), EMPTY_SLOT)

    def test_tray_icon_comes_back_when_the_tray_host_restarts(self):
        desktop = self.desktop(tray="sni")
        run = desktop.start_program(program_path())
        run.wait_tray_icon()
        desktop.restart_tray()
        icon = run.wait_tray_icon()
        self.assertEqual(icon.tip(), TITLE)
        self.assertEqual(icon.image(), EMPTY_SLOT)

    def test_a_tray_that_starts_a_moment_later_still_gets_the_icon(self):
        desktop = self.desktop(tray="xembed")
        desktop.stop_tray()
        run = desktop.start_program(program_path())
        time.sleep(1.5)
        desktop.start_tray()
        self.assertEqual(run.wait_tray_icon().image(), EMPTY_SLOT)

    def test_a_status_notifier_watcher_that_starts_a_moment_later_still_gets_the_icon(self):
        desktop = self.desktop(tray="sni")
        desktop.stop_tray()
        # Complete settings keep the settings window away: a window with the title is the error box.
        run = desktop.start_program(program_path(), settings=complete_settings(closed_loopback_port()))
        time.sleep(1.5)
        desktop.start_tray()
        wait_for(lambda: desktop.tray_icon_of(run.pid) or run.window_titled((TITLE,)), 20,
                 "the tray icon or the error box")
        self.assertIsNone(run.window_titled((TITLE,)), "the program found no tray and said so in a box")
        # The icon follows the program: the start-up check against the closed port ends failed.
        icon = run.wait_tray_icon()
        wait_first_check(icon)
        self.assertEqual(icon.image(), TROUBLE_SLOT)

    def test_a_tray_host_that_appears_20_s_after_the_program_gets_the_icon_and_the_checks_go_on(self):
        for kind in ("sni", "xembed"):
            with self.subTest(kind), Pop3Stub(message_count=3) as server:
                desktop = self.desktop(tray=kind)
                desktop.stop_tray()
                notices = NoticeServer(desktop)
                run = desktop.start_program(program_path(), ["/ENGLISH"], settings=complete_settings(server.port))
                wait_for(lambda: server.sessions == 1, 15, "the start-up check without a tray")
                self.assertEqual(notices.wait_count(1)[0]["summary"], "3 new e-mail messages")
                time.sleep(20)
                self.assertTrue(run.alive(), "the program ended without a tray")
                self.assertEqual(run.windows(), [], "the program showed a box or its window")
                desktop.start_tray()
                icon = run.wait_tray_icon()
                self.assertEqual(icon.image(), LETTER_SLOT)
                if kind == "sni":
                    self.assertEqual(icon.tip(), "You have 3 new e-mail messages.")

    def test_without_settings_the_window_shows_and_the_hot_key_does_nothing(self):
        desktop = self.desktop(tray="sni")
        run = desktop.start_program(program_path())
        icon = wait_started(run)
        window = run.wait_window()
        self.assertIn(window.title(), CAPTIONS)
        self.assertEqual(window.icon_sizes(), [(16, 16), (32, 32), (48, 48)], "the window's icon")
        self.assertTrue(desktop.hot_key_is_held(), "the program did not grab Ctrl+Alt+F5")

        desktop.press_keys("ctrl+alt+F5", "ctrl+alt+F5")
        self.assertStaysTrue(lambda: icon.tip() == TITLE and len(run.windows()) == 1, 2,
                             "the hot key changed the tray or opened a window")
        self.assertEqual(icon.image(), EMPTY_SLOT)
        self.assertTrue(run.alive())

    def test_a_failed_first_check_shows_the_trouble_image_and_the_reason(self):
        for language in ("/ENGLISH", "/SWEDISH"):
            with self.subTest(language):
                desktop = self.desktop(tray="sni")
                settings = complete_settings(closed_loopback_port())
                run = desktop.start_program(program_path(), [language], settings=settings)
                icon = run.wait_tray_icon()
                tip = wait_first_check(icon)
                first, second = tip.splitlines()
                self.assertEqual(first, NOT_CHECKED[language])
                self.assertTrue(second.startswith(CHECK_FAILED[language]), second)
                self.assertGreater(len(second), len(CHECK_FAILED[language]))
                self.assertLessEqual(len(tip), 127)
                self.assertEqual(icon.image(), TROUBLE_SLOT)
                self.assertEqual(run.windows(), [], "a complete settings file must not show the window")


class CheckCycleTest(ProgramTestCase, SoundAssertions):
    def test_sound_plays_whole_and_only_when_the_count_grows(self):
        with Pop3Stub(message_count=3) as server:
            desktop = self.desktop(tray="sni", sound=True)
            sound = os.path.join(desktop.folder, "new-mail.wav")
            write_two_tone_wav(sound, 440, 1760, 0.6)
            settings = dict(complete_settings(server.port), PathToSound=sound)

            recorder = desktop.record_sound("grown-from-0")
            icon = wait_started(desktop.start_program(program_path(), ["/ENGLISH"], settings=settings))
            self.require_first_check(server)
            self.assertEqual(icon.tip(), "You have 3 new e-mail messages.")
            self.assertEqual(icon.image(), LETTER_SLOT)
            self.assertWholeSoundOnce(desktop, recorder)

            recorder = desktop.record_sound("same-count")
            desktop.press_keys("ctrl+alt+F5")
            wait_for(lambda: server.sessions == 2, 15, "the second check")
            time.sleep(2.5)  # the null sink reports sound late
            self.assertEqual(recorder.stop().loud_spans(), [], "a sound for an unchanged count")

            server.message_count = 4
            recorder = desktop.record_sound("grown-from-3")
            desktop.press_keys("ctrl+alt+F5")
            wait_for(lambda: icon.tip() == "You have 4 new e-mail messages.", 15, "the third check")
            self.assertWholeSoundOnce(desktop, recorder)

    def test_failed_check_shows_no_count_until_the_next_success(self):
        with Pop3Stub(message_count=5) as server:
            desktop = self.desktop(tray="sni")
            run = desktop.start_program(program_path(), ["/ENGLISH"], settings=complete_settings(server.port))
            icon = wait_started(run)
            self.require_first_check(server)
            self.assertEqual(icon.tip(), "You have 5 new e-mail messages.")

            server.refuse_login = True
            desktop.press_keys("ctrl+alt+F5")
            tip = wait_for(lambda: "\n" in icon.tip() and icon.tip(), 15, "the failed check")
            first, second = tip.splitlines()
            self.assertEqual(first, NOT_CHECKED["/ENGLISH"])
            self.assertTrue(second.startswith("Check failed: "), second)
            self.assertEqual(icon.image(), TROUBLE_SLOT)

            server.refuse_login = False
            desktop.press_keys("ctrl+alt+F5")
            wait_for(lambda: icon.tip() == "You have 5 new e-mail messages.", 15, "the failure line to go")
            self.assertEqual(run.windows(), [], "a failed check must not show a box")


class QuittingTest(DesktopTestCase):
    def test_file_quit_shortcut_ends_the_program_and_frees_the_hot_key(self):
        desktop = self.desktop(tray="sni")
        run = desktop.start_program(program_path())
        wait_started(run)
        self.assertTrue(desktop.hot_key_is_held(), "the program did not grab Ctrl+Alt+F5")
        desktop.press_keys("ctrl+q", window=run.wait_window())
        self.assertEqual(run.wait_exit(), 0)
        self.assertFalse(desktop.hot_key_is_held())
        wait_for(lambda: not desktop.bus.registered_items(), 10, "the tray icon to leave")

    def test_close_request_ends_the_program(self):
        desktop = self.desktop(tray="sni")
        run = desktop.start_program(program_path())
        run.wait_tray_icon()
        run.request_close(run.wait_window())
        self.assertEqual(run.wait_exit(), 0)
        wait_for(lambda: not desktop.bus.registered_items(), 10, "the tray icon to leave")
        with open(run.settings_path) as ini:
            stored = ini.read().split()
        self.assertEqual(stored[:3], ["[Main]", "POP3Server=", "Port=110"], "the fields were not stored")


    def test_session_end_signal_ends_the_program_cleanly(self):
        desktop = self.desktop(tray="sni")
        run = desktop.start_program(program_path())
        wait_started(run)
        self.assertTrue(desktop.hot_key_is_held(), "the program did not grab Ctrl+Alt+F5")
        os.kill(run.pid, signal.SIGTERM)
        self.assertEqual(run.wait_exit(), 0)
        self.assertFalse(desktop.hot_key_is_held())
        self.assertTrue(os.path.exists(run.settings_path), "the fields were not stored")


class SecondCopyTest(ProgramTestCase):
    def test_second_copy_runs_without_the_hot_key(self):
        desktop = self.desktop(tray="sni")
        first = desktop.start_program(program_path(), name="first")
        wait_started(first)
        self.assertTrue(desktop.hot_key_is_held(), "the first copy did not grab Ctrl+Alt+F5")
        second = desktop.start_program(program_path(), name="second")
        wait_started(second)
        second.wait_window()

        desktop.press_keys("ctrl+q", window=first.wait_window())
        self.assertEqual(first.wait_exit(), 0)
        self.assertFalse(desktop.hot_key_is_held(), "the second copy holds the hot key")
        self.assertTrue(second.alive())
        self.assertIsNotNone(desktop.tray_icon_of(second.pid))

    def test_hot_key_checks_in_the_copy_that_holds_it(self):
        with Pop3Stub(message_count=0) as first_server, Pop3Stub(message_count=0) as second_server:
            desktop = self.desktop(tray="sni")
            first = desktop.start_program(program_path(), settings=complete_settings(first_server.port),
                                          name="first")
            wait_first_check(wait_started(first))
            self.assertTrue(desktop.hot_key_is_held(), "the first copy did not grab Ctrl+Alt+F5")
            second = desktop.start_program(program_path(), settings=complete_settings(second_server.port),
                                           name="second")
            wait_first_check(wait_started(second))
            self.require_first_check(first_server)
            self.require_first_check(second_server)

            desktop.press_keys("ctrl+alt+F5")
            wait_for(lambda: first_server.sessions == 2, 15, "the hot key's check")
            self.assertStaysTrue(lambda: second_server.sessions == 1, 2, "the second copy checked too")


if __name__ == "__main__":
    main()

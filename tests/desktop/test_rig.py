#!/usr/bin/python3
"""Proves the desktop rig with the minimal tray program (tray_floor): each helper that the whole-program
tests rely on reads back what the floor program is known to show."""

import os
import time

from desktop_rig import CAPTIONS, wait_for
from desktop_test import DesktopTestCase, floor_path, main
from sound_tools import play, write_two_tone_wav
from tray_tools import EMPTY_SLOT, LETTER_SLOT, corners_are_transparent
from x11_tools import CTRL_ALT, Screen
from Xlib import X, XK


class TrayPathsTest(DesktopTestCase):
    def test_status_notifier_item_gives_tip_pixels_and_menu(self):
        desktop = self.desktop(tray="sni")
        run = desktop.start_program(floor_path(), ["--tip", "Floor tip", "--image", "1"])
        icon = run.wait_tray_icon()
        self.assertEqual(icon.tip(), "Floor tip")
        self.assertEqual(icon.image(), LETTER_SLOT)
        width, height, rgba = icon.pixels()
        self.assertEqual((width, height), (16, 16))
        self.assertTrue(corners_are_transparent(width, height, rgba))

        icon.click_menu_item("_Quit")
        self.assertEqual(run.wait_exit(), 0)
        wait_for(lambda: not desktop.bus.registered_items(), 10, "the item to leave the watcher")

    def test_status_notifier_item_comes_back_after_the_tray_host_restarts(self):
        desktop = self.desktop(tray="sni")
        run = desktop.start_program(floor_path(), ["--tip", "Again"])
        run.wait_tray_icon()
        desktop.restart_tray()
        self.assertEqual(run.wait_tray_icon().tip(), "Again")

    def test_xembed_icons_are_told_apart_by_process_and_image(self):
        desktop = self.desktop(tray="xembed")
        empty = desktop.start_program(floor_path(), ["--image", "0"], name="empty")
        letter = desktop.start_program(floor_path(), ["--image", "1"], name="letter")
        self.assertEqual(empty.wait_tray_icon().image(), EMPTY_SLOT)
        self.assertEqual(letter.wait_tray_icon().image(), LETTER_SLOT)

    def test_xembed_icon_takes_a_double_click(self):
        desktop = self.desktop(tray="xembed")
        run = desktop.start_program(floor_path())
        run.wait_tray_icon().double_click()
        wait_for(lambda: "double-click" in run.output(), 10, "the double click")


def key_press_arrived(screen):
    while screen.display.pending_events():
        if screen.display.next_event().type == X.KeyPress:
            return True
    return False


class WindowAndKeysTest(DesktopTestCase):
    def test_window_is_found_by_caption_and_quits_on_its_shortcut(self):
        desktop = self.desktop(tray="sni")
        run = desktop.start_program(floor_path(), ["--window", CAPTIONS[1]])
        window = run.wait_window()
        self.assertEqual(window.title(), CAPTIONS[1])
        self.assertTrue(os.path.getsize(desktop.screenshot("window", window)) > 0)
        desktop.press_keys("ctrl+q", window=run.wait_window())
        self.assertEqual(run.wait_exit(), 0)

    def test_close_request_reaches_the_window(self):
        desktop = self.desktop(tray="sni")
        run = desktop.start_program(floor_path(), ["--window", CAPTIONS[0]])
        run.request_close(run.wait_window())
        self.assertEqual(run.wait_exit(), 0)

    def test_ctrl_alt_f5_reaches_a_grab_and_the_probe_sees_it(self):
        desktop = self.desktop(tray=None)
        self.assertFalse(desktop.hot_key_is_held())
        holder = Screen(desktop.env["DISPLAY"])
        self.addCleanup(holder.close)
        keycode = holder.display.keysym_to_keycode(XK.string_to_keysym("F5"))
        holder.root.grab_key(keycode, CTRL_ALT, False, X.GrabModeAsync, X.GrabModeAsync)
        holder.display.sync()
        self.assertTrue(desktop.hot_key_is_held())

        desktop.press_keys("ctrl+alt+F5")
        self.assertTrue(wait_for(lambda: key_press_arrived(holder), 10, "the key press"))

        holder.root.ungrab_key(keycode, CTRL_ALT)
        holder.display.sync()
        self.assertFalse(desktop.hot_key_is_held())


class SoundAndCleanUpTest(DesktopTestCase):
    def test_null_sink_recording_shows_the_whole_two_tone_sound(self):
        desktop = self.desktop(tray=None, sound=True)
        wav = os.path.join(desktop.folder, "two-tone.wav")
        write_two_tone_wav(wav, 440, 1760, 0.6)
        recorder = desktop.record_sound()
        play(desktop, wav)
        wait_for(recorder.heard, 10, "the sound in the recording")
        time.sleep(0.5)  # the null sink reports the end a little late
        (first_hz, last_hz, seconds), = recorder.stop().tones()
        self.assertAlmostEqual(first_hz, 440, delta=60)
        self.assertAlmostEqual(last_hz, 1760, delta=120)
        self.assertAlmostEqual(seconds, 0.6, delta=0.1)

    def test_stop_ends_every_process_and_removes_the_folder(self):
        desktop = self.desktop(tray="sni", sound=True)
        desktop.start_program(floor_path()).wait_tray_icon()
        processes = list(desktop.processes)
        self.assertGreaterEqual(len(processes), 5)
        desktop.stop()
        self.assertTrue(all(p.poll() is not None for p in processes))
        self.assertFalse(os.path.exists(desktop.folder))


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Whole-program tests of the settings file beside the executable: a complete file takes the program
straight into the tray and to its first check, and ending the program, by a close request or by the
session's end signal, stores the fields as they stand, scrambled, in the file's own format."""

import os
import signal
import stat

from desktop_rig import scramble_credential, wait_for
from desktop_test import DesktopTestCase, main, program_path
from pop3_stub import Pop3Stub
from settings_window import click_www_box, fill_in


def stored_form(server, port, user_name, password, path_to_client, path_to_sound, www, use_tls=None):
    """The settings file as the program writes it: section Main, the seven keys in their order, then
    UseTLS when it differs from what its absence means."""
    return ("[Main]\n"
            f"POP3Server={server}\n"
            f"Port={port}\n"
            f"UserName={scramble_credential(user_name)}\n"
            f"Password={scramble_credential(password)}\n"
            f"PathToClient={path_to_client}\n"
            f"PathToSound={path_to_sound}\n"
            f"WWW={www}\n"
            + ("" if use_tls is None else f"UseTLS={use_tls}\n"))


def read_text(path):
    with open(path, newline="") as ini:
        return ini.read()


class SettingsFileTest(DesktopTestCase):
    def test_a_complete_file_starts_into_the_tray_and_the_end_signal_stores_it_in_its_format(self):
        with Pop3Stub(message_count=2) as server:
            desktop = self.desktop(tray="sni")
            # Written by hand: blanks around the equals signs, the scrambled forms in lower case, the
            # flag in hexadecimal. The program reads each as the same value and writes it back in
            # its own form.
            hand_written = ("[Main]\n"
                            "POP3Server = 127.0.0.1\n"
                            f"Port= {server.port}\n"
                            f"UserName={scramble_credential('anna').lower()}\n"
                            f"Password = {scramble_credential('hemligt').lower()}\n"
                            "PathToClient=/usr/bin/true\n"
                            "PathToSound=/nonexistent/new-mail.wav\n"
                            "WWW=0x0\n")
            run = desktop.start_program(program_path(), ["/ENGLISH"], settings=hand_written)

            def first_check_shown():
                self.assertEqual(run.windows(), [], "a complete settings file must not show the window")
                icon = desktop.tray_icon_of(run.pid)
                try:
                    return server.sessions == 1 and icon.tip() == "You have 2 new e-mail messages."
                except Exception:
                    return False  # the icon is not registered yet, or not answering yet

            wait_for(first_check_shown, 20, "the start-up check in the tray")
            self.assertStaysTrue(lambda: run.windows() == [], 1, "the window showed after the check")

            os.kill(run.pid, signal.SIGTERM)
            self.assertEqual(run.wait_exit(), 0)
            self.assertEqual(read_text(run.settings_path),
                             stored_form("127.0.0.1", server.port, "anna", "hemligt", "/usr/bin/true",
                                         "/nonexistent/new-mail.wav", 0))

    def test_closing_the_window_stores_the_typed_fields_in_a_new_private_file(self):
        desktop = self.desktop(tray="sni")
        run = desktop.start_program(program_path(), ["/ENGLISH"])
        window = run.wait_window()
        fill_in(desktop, window, "txtPOP3Server", "pop.example.org")
        fill_in(desktop, window, "txtPort", "995")
        fill_in(desktop, window, "txtUserName", "anna")
        fill_in(desktop, window, "txtPassword", "hemligt")
        click_www_box(desktop, window)
        fill_in(desktop, window, "txtPathToClient", "https://mail.example.org/")
        fill_in(desktop, window, "txtPathToSound", "/home/anna/new-mail.wav")
        self.assertFalse(os.path.exists(run.settings_path), "the settings were stored before the end")

        run.request_close(window)
        self.assertEqual(run.wait_exit(), 0)
        self.assertEqual(read_text(run.settings_path),
                         stored_form("pop.example.org", 995, "anna", "hemligt", "https://mail.example.org/",
                                     "/home/anna/new-mail.wav", 1, use_tls=0))
        self.assertEqual(stat.S_IMODE(os.stat(run.settings_path).st_mode), 0o600,
                         "the file with the scrambled password is readable by others")


if __name__ == "__main__":
    main()

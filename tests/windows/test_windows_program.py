#!/usr/bin/python3
"""Whole-program tests of the Windows build: the real brevgluggen.exe under Wine, in a desktop with a
task bar on a private X server (wine_rig.py). Each test proves one piece of the Windows layer once;
the Linux suites prove the logic above it.

    test_windows_program.py --program brevgluggen.exe --probe wine_probe.exe --trust trust_test_authority.exe
                            --work DIR [Class.test]

DIR keeps the Wine prefix and the keyboard data between runs. Set BG_DESKTOP_KEEP=1 to keep a
session's folder (logs, screenshots)."""

import argparse
import imaplib
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import unittest

from wine_rig import ENGLISH_TITLE, WineDesktop, windows_path

from desktop_rig import scramble_credential, wait_for
from dovecot_server import DovecotServer
from pop3_stub import Pop3Stub, closed_loopback_port
from program_steps import complete_settings
from settings_window import CLIENT_HEIGHT, CLIENT_WIDTH, EDIT_BOXES, PASSWORD_COLUMN, ClientPixels

PATHS = {}  # "program", "probe", "trust" and "work", from the command line
MENU_ROWS = 20  # rows above the client area taken into its picture: the menu bar's bottom


def text_of(path):
    """The file's text; empty while it is not there."""
    if not os.path.exists(path):
        return ""
    with open(path) as file:
        return file.read()


def tip_for(count):
    return {0: "You have no new e-mail messages.", 1: "You have 1 new e-mail message."}.get(
        count, f"You have {count} new e-mail messages.")


class WineTestCase(unittest.TestCase):
    def desktop(self):
        session = WineDesktop(PATHS["work"], PATHS["probe"])
        self.addCleanup(self._close_session, session)
        session.start()
        return session

    def _close_session(self, session):
        try:
            # A session a test has stopped itself has no logs left.
            for name in sorted(os.listdir(session.logs)) if session.logs and os.path.isdir(session.logs) else []:
                if name.endswith(".log") and os.path.getsize(os.path.join(session.logs, name)):
                    print(f"--- {name}\n{session.log_text(name[:-4])}", file=sys.stderr)
        finally:
            session.stop()

    def start(self, desktop, settings=None, args=("/ENGLISH",)):
        return desktop.install_program(PATHS["program"], settings).start(args)

    def fill_in(self, desktop, client, box, text):
        """Clicks into an edit box of the settings window and types the text."""
        left, top, width, height = EDIT_BOXES[box]
        desktop.click_at(client[0] + left + width // 2, client[1] + top + height // 2)
        desktop.type_text(text)


class TrayTest(WineTestCase):
    def test_complete_settings_start_in_the_tray_with_the_count_from_dovecot(self):
        with DovecotServer(message_count=3) as server:
            desktop = self.desktop()
            self.start(desktop, complete_settings(server.port))
            desktop.wait_tip(lambda tip: tip == tip_for(3), what="the count from Dovecot")
            self.assertNotIn(ENGLISH_TITLE, desktop.windows())


class HotKeyTest(WineTestCase):
    def test_ctrl_alt_f5_checks_at_once(self):
        with Pop3Stub(message_count=1) as server:
            desktop = self.desktop()
            self.start(desktop, complete_settings(server.port))
            desktop.wait_tip(lambda tip: tip == tip_for(1), what="the first check")
            server.message_count = 2
            desktop.press_keys_on_desktop("ctrl+alt+F5")
            # Long before the timer's first tick, 60 s after the start.
            desktop.wait_tip(lambda tip: tip == tip_for(2), timeout=10, what="the check on Ctrl+Alt+F5")


class ImapWatchTest(WineTestCase):
    def test_an_append_by_another_client_reaches_the_tip_without_a_timer_tick(self):
        with DovecotServer(message_count=2, protocol="imap") as server:
            desktop = self.desktop()
            self.start(desktop, dict(complete_settings(server.port), Protocol=1))
            desktop.wait_tip(lambda tip: tip == tip_for(2), what="the first check")
            other = imaplib.IMAP4("127.0.0.1", server.port)
            other.login(server.user, server.password)
            other.append("INBOX", None, None, b"Subject: Pushed\r\n\r\nBody.\r\n")
            other.logout()
            # Long before the timer's first tick, 60 s after the start.
            desktop.wait_tip(lambda tip: tip == tip_for(3), timeout=10, what="the push of the appended message")


class NoticeTest(WineTestCase):
    def test_growth_shows_the_balloon_with_the_decoded_sender_and_subject(self):
        with DovecotServer(message_count=0) as server:
            desktop = self.desktop()
            self.start(desktop, complete_settings(server.port))
            desktop.wait_tip(lambda tip: tip == tip_for(0), what="the first check")
            server.add_message("=?UTF-8?Q?=C3=96rjan_Ek?= <x@example.test>", "=?UTF-8?B?R3LDvMOfZSBmcsOlbiDDhXNh?=")
            server.add_message("x@example.test", "=?ISO-8859-1?Q?M=F6te_i_morgon?=")
            desktop.press_keys_on_desktop("ctrl+alt+F5")
            desktop.wait_tip(lambda tip: tip == tip_for(2), timeout=10, what="the check on Ctrl+Alt+F5")
            balloons = wait_for(desktop.balloons, 10, "the balloon")
            # Its title ("2 new e-mail messages") cannot be read back under Wine.
            self.assertEqual(balloons, ["x@example.test: Möte i morgon|Örjan Ek: Grüße från Åsa"])


class LauncherTest(WineTestCase):
    def test_double_click_starts_the_mail_program_at_its_path_with_blanks_in_our_folder(self):
        desktop = self.desktop()
        mail_folder = os.path.join(desktop.folder, "Mail Program")
        os.mkdir(mail_folder)
        mail_program = os.path.join(mail_folder, "mail.exe")
        # What an unquoted command line would start first: "...\Mail" + ".exe".
        decoy = os.path.join(desktop.folder, "Mail.exe")
        for copy in (mail_program, decoy):
            shutil.copy(PATHS["probe"], copy)  # run without arguments it notes its working folder
        settings = dict(complete_settings(closed_loopback_port()), PathToClient=windows_path(mail_program))
        run = self.start(desktop, settings)

        desktop.wait_tip(lambda tip: tip.startswith("The mailbox could not be checked."),
                         what="the first check")
        (left, top, right, bottom), _tip = desktop.program_icon()
        desktop.click_at((left + right) // 2, (top + bottom) // 2, double=True)
        started = mail_program + ".started"
        wait_for(lambda: os.path.exists(started), 10, "the mail program to start")
        with open(started, encoding="utf-8") as note:
            self.assertEqual(note.read(), windows_path(run.folder))
        self.assertFalse(os.path.exists(decoy + ".started"), "a shorter path was started")


class SettingsWindowTest(WineTestCase):
    def test_empty_settings_show_the_window_as_laid_out(self):
        desktop = self.desktop()
        self.start(desktop)
        left, top, width, height = desktop.wait_window(ENGLISH_TITLE)
        self.assertEqual((width, height), (CLIENT_WIDTH, CLIENT_HEIGHT))

        class ClientPicture:
            def rgba(self):
                return desktop.screenshot_region("settings-window", left, top - MENU_ROWS, width, height + MENU_ROWS)

        wait_for(lambda: not ClientPixels(ClientPicture()).separator_mismatches(), 10, "the window's painting")
        self.assertEqual(ClientPixels(ClientPicture()).layout_mismatches(), [])
        self.assertEqual(ClientPixels(ClientPicture()).column_mismatches(PASSWORD_COLUMN), [])
        gaps = ClientPixels(ClientPicture()).glyph_gaps()
        self.assertTrue(all(gap >= 3 for gap in gaps.values()), f"glyphs touching their captions: {gaps}")


class SettingsFileTest(WineTestCase):
    def test_ansi_file_of_the_profile_functions_loads_and_survives_enter_on_save(self):
        sound = "C:\\Ljud\\nå post.wav"
        with Pop3Stub(message_count=0) as server:
            desktop = self.desktop()
            run = desktop.install_program(PATHS["program"])
            ini = windows_path(run.settings_path)
            # No password: the window shows at the start.
            desktop.probe("write-profile", ini, "Main", "POP3Server", "127.0.0.1", "Port", str(server.port),
                          "UserName", scramble_credential("anna"), "PathToClient", "C:\\Mail\\mail.exe",
                          "PathToSound", sound, "WWW", "0")
            with open(run.settings_path, "rb") as written:
                self.assertIn(sound.encode("cp1252"), written.read(), "the platform wrote no ANSI file")
            run.start(["/ENGLISH"])
            client = desktop.wait_window(ENGLISH_TITLE)

            self.fill_in(desktop, client, "txtPassword", "hemligt")
            desktop.press_keys("Return")
            wait_for(lambda: ENGLISH_TITLE not in desktop.windows(), 10, "Save to hide the window")
            wait_for(lambda: server.sessions == 1, 10, "the check after Save")
            self.assertEqual(desktop.probe("read-profile", ini, "Main", "PathToSound").strip(), sound)
            self.assertEqual(desktop.probe("read-profile", ini, "Main", "Password").strip(),
                             scramble_credential("hemligt"))


class SignInServers:
    """The Linux helper's authorization server and Dovecot with TLS that takes only its tokens
    (RealPop3ServerHelper.cpp, kind "oauth"); "browse <address>" opens an address in its test browser."""

    def __init__(self, helper, folder, certificates):
        ready = os.path.join(folder, "servers.ready")
        self.log = open(os.path.join(folder, "servers.log"), "wb")
        self.process = subprocess.Popen([helper, "oauth", ready, f"certificates={certificates}"],
                                        stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log)
        fields = wait_for(lambda: text_of(ready).split(), 90, "the sign-in's servers")
        if fields == ["unavailable"]:
            self.close()
            raise unittest.SkipTest("Dovecot, node or chromium missing for the sign-in's servers")
        self.port, self.tls_port, self.authorization = int(fields[0]), int(fields[2]), int(fields[4])
        self.control = socket.create_connection(("127.0.0.1", int(fields[1])))

    def command(self, line):
        self.control.sendall(line.encode() + b"\n")
        self.control.recv(3)

    def close(self):
        if getattr(self, "control", None):
            self.control.close()  # ends the helper and its servers
        self.process.wait(30)
        self.log.close()


class SignInTest(WineTestCase):
    def test_save_signs_in_through_the_browser_and_the_next_start_counts_with_the_kept_token(self):
        helper = os.environ.get("BG_REAL_POP3_SERVER")
        if not helper:
            self.skipTest("no Linux helper for the sign-in's servers ($BG_REAL_POP3_SERVER)")
        work = tempfile.TemporaryDirectory(prefix="bg-wine-signin-")
        self.addCleanup(work.cleanup)
        build = os.path.dirname(os.path.dirname(PATHS["program"]))
        servers = SignInServers(helper, work.name, os.path.join(build, "test-certificates"))
        self.addCleanup(servers.close)
        servers.command("fill 3")
        # The browser of the prefix: a script that notes each address the program opens.
        addresses = os.path.join(work.name, "addresses")
        browser = os.path.join(work.name, "browser.sh")
        with open(browser, "w") as script:
            script.write(f"#!/bin/sh\nprintf '%s\\n' \"$1\" >> '{addresses}'\n")
        os.chmod(browser, 0o755)
        base = f"https://127.0.0.1:{servers.authorization}"
        settings = {"POP3Server": "127.0.0.1", "Port": servers.port, "UserName": "u", "Password": "",
                    "PathToClient": "/usr/bin/true", "PathToSound": "", "WWW": 0, "UseTLS": 2, "SignIn": 1,
                    "OAuthProvider": "custom", "OAuthClientId": "brevgluggen-test",
                    "OAuthAuthorizeUrl": f"{base}/auth", "OAuthTokenUrl": f"{base}/token", "OAuthScope": "pop3"}
        entry = "Brevgluggen:u@127.0.0.1"

        desktop = self.desktop()
        desktop.env["BG_REAL_POP3_SERVER"] = helper
        desktop.run_wine(["wine", PATHS["trust"]], timeout=120)
        desktop.probe("erase-credential", entry)
        desktop.run_wine(["wine", "reg", "add", r"HKCU\Software\Wine\WineBrowser", "/v", "Browsers", "/d", browser,
                          "/f"])
        self.start(desktop, settings)
        client = desktop.wait_window(ENGLISH_TITLE)  # the sound's path is missing
        self.fill_in(desktop, client, "txtPathToSound", "C:\\new-mail.wav")
        desktop.press_keys("Return")  # Save without a token: the sign-in in the browser
        address = wait_for(lambda: text_of(addresses).partition("\n")[0], 20, "the authorize address in the browser")
        self.assertTrue(address.startswith(f"{base}/auth?"), address)
        servers.command("browse " + address)
        desktop.wait_tip(lambda tip: tip == tip_for(3), timeout=60, what="the count after the sign-in")
        desktop.stop()  # every Wine process of the prefix ends

        # The next start: the refresh token from the Credential Manager, no browser.
        again = self.desktop()
        self.addCleanup(again.run_wine, ["wine", "reg", "delete", r"HKCU\Software\Wine\WineBrowser", "/f"])
        self.addCleanup(again.probe, "erase-credential", entry)
        self.start(again, dict(settings, PathToSound="C:\\new-mail.wav"))
        again.wait_tip(lambda tip: tip == tip_for(3), timeout=30, what="the count with the kept token")
        self.assertEqual(len(text_of(addresses).splitlines()), 1, "no browser for the next start")


class SessionEndTest(WineTestCase):
    def test_end_of_the_session_stores_the_fields_as_they_stand_and_ends_the_program(self):
        desktop = self.desktop()
        run = self.start(desktop)
        client = desktop.wait_window(ENGLISH_TITLE)
        self.fill_in(desktop, client, "txtPOP3Server", "mail.example.org")
        desktop.end_session()
        wait_for(lambda: os.path.exists(run.settings_path), 10, "the settings to be stored")
        with open(run.settings_path, "rb") as stored:
            self.assertIn(b"POP3Server=mail.example.org", stored.read())
        wait_for(lambda: ENGLISH_TITLE not in desktop.windows(), 10, "the program to end")


def main():
    parser = argparse.ArgumentParser(add_help=False)
    for option in ("--program", "--probe", "--trust", "--work"):
        parser.add_argument(option, required=True)
    known, rest = parser.parse_known_args()
    PATHS.update(vars(known))
    # CTest ends a test that runs too long with a signal: leave through the clean-up path.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()

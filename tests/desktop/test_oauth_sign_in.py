#!/usr/bin/python3
"""Whole-program test of the OAuth 2.0 sign-in: the real authorization server and a Dovecot that takes only
its tokens (run by the test helper bg_real_pop3_server), xdg-open handing the program's authorize address to
a private default browser that drives Debian's headless chromium. Save without a stored token signs in
through the browser, the tray then shows Dovecot's count; after a restart the count comes again with no
browser run, from the kept refresh token."""

import base64
import os
import socket
import subprocess
import tempfile
import unittest

from desktop_rig import wait_for
from desktop_test import DesktopTestCase, main, program_path
from program_steps import wait_first_check, wait_started
from settings_window import BUTTONS, click_into

HERE = os.path.dirname(os.path.abspath(__file__))
RIG = os.path.join(HERE, "..", "support", "oauth")


def read(path):
    with open(path) as f:
        return f.read()


def helper_path():
    return os.path.join(os.path.dirname(os.path.dirname(program_path())), "tests", "bg_real_pop3_server")


class SignInServers:
    """The helper's authorization server and Dovecot, kept while its control connection is open."""

    def __enter__(self):
        self.folder = tempfile.mkdtemp(prefix="bg-desktop-oauth-")
        self.certificates = os.path.join(self.folder, "certificates")
        os.mkdir(self.certificates)
        os.chmod(self.folder, 0o755)  # Dovecot's own users read the authority
        ready = os.path.join(self.folder, "ready")
        self.process = subprocess.Popen([helper_path(), "oauth", ready, f"certificates={self.certificates}"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        fields = wait_for(lambda: os.path.exists(ready) and read(ready).split(), 60, "the sign-in servers")
        if fields == ["unavailable"]:
            self.__exit__()
            raise unittest.SkipTest("Dovecot, node or chromium missing")
        self.pop3_port, control_port, self.auth_port = int(fields[0]), int(fields[1]), int(fields[4])
        self.dovecot_folder = fields[3]
        self.control = socket.create_connection(("127.0.0.1", control_port))
        self.ca_file = os.path.join(self.certificates, "ca.pem")
        self.command("fill 3")
        return self

    def command(self, line):
        self.control.sendall(line.encode() + b"\n")
        assert self.control.recv(16) == b"ok\n"

    def __exit__(self, *exc):
        if getattr(self, "control", None):
            self.control.close()
        self.process.wait(30)
        subprocess.run(["rm", "-rf", self.folder], check=False)


def install_test_browser(desktop, result_file):
    """The session's default browser for http and https: the rig's chromium driver."""
    rig = subprocess.run([os.path.join(RIG, "install.sh")], capture_output=True, text=True, check=True).stdout.strip()
    script = os.path.join(desktop.folder, "test-browser.sh")
    with open(script, "w") as out:
        out.write(f"#!/bin/sh\nBG_BROWSER_RESULT='{result_file}' exec /usr/bin/node '{rig}/browser.mjs' \"$1\"\n")
    os.chmod(script, 0o755)
    home = desktop.env["HOME"]
    applications = os.path.join(home, ".local", "share", "applications")
    os.makedirs(applications, exist_ok=True)
    os.makedirs(os.path.join(home, ".config"), exist_ok=True)
    with open(os.path.join(applications, "bg-test-browser.desktop"), "w") as out:
        out.write(f"[Desktop Entry]\nType=Application\nName=Test browser\nExec={script} %u\n")
    with open(os.path.join(home, ".config", "mimeapps.list"), "w") as out:
        out.write("[Default Applications]\nx-scheme-handler/http=bg-test-browser.desktop\n"
                  "x-scheme-handler/https=bg-test-browser.desktop\n")


class OAuthSignInTest(DesktopTestCase):
    def test_save_signs_in_through_the_browser_and_a_restart_needs_no_browser(self):
        with SignInServers() as servers:
            desktop = self.desktop(tray="sni")
            browser_result = os.path.join(desktop.folder, "browser-result")
            install_test_browser(desktop, browser_result)
            no_more_authorities = os.path.join(desktop.folder, "no-more-authorities")
            os.mkdir(no_more_authorities)
            base = f"https://127.0.0.1:{servers.auth_port}"
            settings = {"POP3Server": "127.0.0.1", "Port": servers.pop3_port, "UserName": "u", "Password": "",
                        "PathToClient": "/usr/bin/true", "PathToSound": "/nonexistent/new-mail.wav", "WWW": 0,
                        "UseTLS": 2, "SignIn": 1, "OAuthProvider": "custom", "OAuthClientId": "brevgluggen-test",
                        "OAuthAuthorizeUrl": base + "/auth", "OAuthTokenUrl": base + "/token", "OAuthScope": "pop3"}
            env = {"SSL_CERT_FILE": servers.ca_file, "SSL_CERT_DIR": no_more_authorities}
            run = desktop.start_program(program_path(), ["/ENGLISH"], settings=settings, env=env)
            # Five fields and OAuth: straight to the tray, where the check asks for a sign-in.
            icon = wait_started(run)
            self.assertEqual(wait_first_check(icon).splitlines()[1],
                             "Check failed: Sign in again (Settings, Sign in\u2026).")

            icon.click_menu_item("_Settings...")
            window = run.wait_window()
            click_into(desktop, window, BUTTONS["btnSave"])
            try:
                wait_for(lambda: icon.tip() == "You have 3 new e-mail messages.", 60, "the check after the sign-in")
            except TimeoutError:
                browser = read(browser_result) if os.path.exists(browser_result) else "never ran"
                self.fail(f"tip {icon.tip()!r}, browser: {browser}, Dovecot's log ends:\n"
                          + read(os.path.join(servers.dovecot_folder, "dovecot.log"))[-3000:])
            # The count can reach the tray a moment before the browser has written its result.
            result = wait_for(lambda: os.path.exists(browser_result) and read(browser_result), 10,
                              "the test browser's result")
            self.assertTrue(result.startswith("done 200"))
            # No secret service in this session: the refresh token is in the owner-only file, never in
            # the settings file.
            token_file = os.path.join(os.path.dirname(run.settings_path), "brevgluggen.token")
            self.assertEqual(os.stat(token_file).st_mode & 0o777, 0o600)
            refresh_token = base64.b64decode(read(token_file).split()[-1]).decode()

            icon.click_menu_item("_Settings...")
            run.request_close(run.wait_window())
            run.wait_exit()
            self.assertNotIn(refresh_token, read(run.settings_path))
            servers.command("add")
            again = desktop.start_program(run.executable, ["/ENGLISH"], copy=False, env=env, name="restarted")
            icon = wait_started(again)
            self.assertEqual(wait_first_check(icon), "You have 4 new e-mail messages.")
            self.assertEqual(len(read(browser_result).splitlines()), 1, "no second browser run")


if __name__ == "__main__":
    main()

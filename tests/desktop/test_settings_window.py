#!/usr/bin/python3
"""Whole-program tests of the settings window, the languages and the launcher: the window as laid
out in Swedish and in English, its keys (Enter saves, F1 shows About, Ctrl+Q quits), the tray menu's
Settings item, and the double click on the tray icon that starts the mail program or opens the
web-mail address."""

import os

from desktop_rig import scramble_credential, wait_for
from desktop_test import DesktopTestCase, main, program_path
from pop3_stub import Pop3Stub, closed_loopback_port
from program_steps import ENGLISH_TITLE, TITLE, complete_settings, wait_started
from settings_window import (BUTTONS, CHOOSER, CLIENT_HEIGHT, CLIENT_WIDTH, OAUTH_COLUMN, PASSWORD_COLUMN,
                             SERVER_LABEL, ClientPixels, click_into, fill_in)
from several_mailboxes import mailboxes_file_text

CAPTION = {"/SWEDISH": TITLE, "/ENGLISH": ENGLISH_TITLE}
ABOUT_CAPTION = {"/SWEDISH": "Om Brevgluggen 1.10", "/ENGLISH": "About Mailhatch 1.10"}
SETTINGS_ITEM = {"/SWEDISH": "_Inställningar...", "/ENGLISH": "_Settings..."}  # "&" as D-Bus shows it
SCREEN_WIDTH, SCREEN_HEIGHT = 1024, 768


def write_script(path, body):
    with open(path, "w") as script:
        script.write("#!/bin/sh\n" + body)
    os.chmod(path, 0o755)


def read_text(path):
    with open(path) as file:
        return file.read()


# The window as a new user meets it: POP3 with a password, and IMAP with OAuth 2.0 at a provider of
# the list. Six boxes are not all filled, so the window shows at the start.
SHOWN_SETTINGS = {
    "pop3-password": ({"POP3Server": "mail.example.org", "Port": 110, "UserName": "anna", "Password": "hemligt"},
                      PASSWORD_COLUMN),
    "imap-oauth": ({"POP3Server": "outlook.office365.com", "Port": 993, "UserName": "anna@example.org",
                    "UseTLS": 1, "Protocol": 1, "SignIn": 1, "OAuthProvider": "microsoft",
                    "OAuthClientId": "0b7e2c1d-5a3f-4e8b-9c6d-2f1a0e9b8c7d"}, OAUTH_COLUMN),
    "two-mailboxes": (mailboxes_file_text({"PathToClient": "/usr/bin/thunderbird"}, [
        {"Name": "Arbete", "POP3Server": "mail.example.org", "Port": 995, "UserName": "anna", "Password": "hemligt"},
        {"Name": "Hemma", "POP3Server": "imap.example.net", "Port": 993, "UserName": "anna.h", "Password": "x",
         "Protocol": 1}]), PASSWORD_COLUMN),
}


class LayoutTest(DesktopTestCase):
    def test_window_in_swedish_and_english_keeps_the_layout_and_adds_one_column(self):
        for language in ("/SWEDISH", "/ENGLISH"):
            desktop = self.desktop(tray="sni")
            server_labels = {}
            for shown, (settings, column) in SHOWN_SETTINGS.items():
                with self.subTest(language=language, shown=shown):
                    run = desktop.start_program(program_path(), [language], settings=settings)
                    window = run.wait_window()
                    self.assertEqual(window.title(), CAPTION[language])
                    # Painted once the separators show; then every control must be in its place.
                    wait_for(lambda: not ClientPixels(window).separator_mismatches(), 10,
                             "the window's painting")
                    desktop.screenshot(f"settings-window-{language[1:].lower()}-{shown}", window)
                    pixels = ClientPixels(window)
                    self.assertEqual(pixels.layout_mismatches(), [])
                    self.assertEqual(pixels.column_mismatches(column), [])
                    server_labels[shown] = pixels.region(SERVER_LABEL)

                    x, y, width, height = window.geometry()
                    self.assertEqual(width, CLIENT_WIDTH)
                    self.assertGreater(height, CLIENT_HEIGHT)
                    self.assertAlmostEqual(x + width / 2, SCREEN_WIDTH / 2, delta=1, msg="not centred")
                    self.assertAlmostEqual(y + height / 2, SCREEN_HEIGHT / 2, delta=1, msg="not centred")
                    run.stop()
            self.assertNotEqual(server_labels["pop3-password"], server_labels["imap-oauth"],
                                f"{language}: the server label does not name the protocol")


class MailboxChooserTest(DesktopTestCase):
    def test_added_mailbox_is_saved_as_its_own_section_and_removing_it_gives_back_the_one_mailbox_file(self):
        desktop = self.desktop(tray="sni")
        settings = complete_settings(closed_loopback_port())
        settings["PathToSound"] = ""  # Save then stores and keeps the window open: no check runs
        run = desktop.start_program(program_path(), ["/ENGLISH"], settings=settings)
        window = run.wait_window()
        one_mailbox = read_text(run.settings_path)

        click_into(desktop, window, CHOOSER["btnAddMailbox"])
        fill_in(desktop, window, "txtPOP3Server", "pop.example.net")
        fill_in(desktop, window, "txtUserName", "bertil")
        fill_in(desktop, window, "txtPassword", "l\u00f6sen")
        click_into(desktop, window, CHOOSER["txtMailboxName"])
        desktop.type_text("Hemma")
        click_into(desktop, window, BUTTONS["btnSave"])
        wait_for(lambda: "[Mailbox2]" in read_text(run.settings_path), 10, "Save to store the second mailbox")
        stored = read_text(run.settings_path)
        self.assertTrue(stored.startswith(one_mailbox), stored)
        self.assertIn(f"[Mailbox2]\nName=Hemma\nPOP3Server=pop.example.net\nPort=110\n"
                      f"UserName={scramble_credential('bertil')}\n", stored)

        # Save showed the first mailbox (the sound is missing for all): pick the second, as the
        # keyboard does, and remove it.
        click_into(desktop, window, CHOOSER["txtMailboxName"])
        desktop.press_keys("shift+Tab", "shift+Tab", "shift+Tab", "Down")
        click_into(desktop, window, CHOOSER["btnRemoveMailbox"])
        click_into(desktop, window, BUTTONS["btnSave"])
        wait_for(lambda: read_text(run.settings_path) == one_mailbox, 10, "the file of one mailbox again")
        self.assertEqual([w.id for w in run.windows()], [window.id])


class KeysTest(DesktopTestCase):
    def test_enter_saves_and_hides_the_window_to_check_only_with_all_six_fields_filled(self):
        with Pop3Stub(message_count=2) as server:
            desktop = self.desktop(tray="sni")
            settings = complete_settings(server.port)
            del settings["Password"], settings["PathToSound"]
            run = desktop.start_program(program_path(), ["/ENGLISH"], settings=settings)
            icon = wait_started(run)
            window = run.wait_window()

            fill_in(desktop, window, "txtPathToSound", "/nonexistent/new-mail.wav")
            desktop.press_keys("Return")
            wait_for(lambda: "PathToSound=/nonexistent/new-mail.wav" in read_text(run.settings_path), 10,
                     "Save to store the typed sound path")
            self.assertStaysTrue(lambda: [w.id for w in run.windows()] == [window.id], 1.5,
                                 "Save hid an incomplete window")
            self.assertEqual(server.sessions, 0, "Save checked with the password empty")

            fill_in(desktop, window, "txtPassword", "hemligt")
            desktop.press_keys("Return")
            wait_for(lambda: run.windows() == [], 10, "Save to hide the window")
            wait_for(lambda: server.sessions == 1 and icon.tip() == "You have 2 new e-mail messages.", 15,
                     "the check after Save")
            self.assertIn(f"Password={scramble_credential('hemligt')}", read_text(run.settings_path))

    def test_f1_shows_the_about_box_and_ctrl_q_quits(self):
        for language in ("/SWEDISH", "/ENGLISH"):
            with self.subTest(language):
                desktop = self.desktop(tray="sni")
                run = desktop.start_program(program_path(), [language])
                window = run.wait_window()
                desktop.press_keys("F1", window=window)
                about = run.wait_window((ABOUT_CAPTION[language],))
                desktop.screenshot(f"about-{language[1:].lower()}", about)
                desktop.press_keys("Return", window=about)
                wait_for(lambda: run.window_titled((ABOUT_CAPTION[language],)) is None, 10,
                         "the About box to close")
                self.assertTrue(run.alive())

                desktop.press_keys("ctrl+q", window=window)
                self.assertEqual(run.wait_exit(), 0)


class TrayMenuTest(DesktopTestCase):
    def test_settings_item_shows_the_window_of_a_program_in_the_tray(self):
        for language in ("/SWEDISH", "/ENGLISH"):
            with self.subTest(language):
                desktop = self.desktop(tray="sni")
                run = desktop.start_program(program_path(), [language],
                                            settings=complete_settings(closed_loopback_port()))
                icon = wait_started(run)
                self.assertEqual(run.windows(), [])
                self.assertEqual(list(icon.menu_items()), [SETTINGS_ITEM[language]])
                icon.click_menu_item(SETTINGS_ITEM[language])
                self.assertEqual(run.wait_window().title(), CAPTION[language])


class LauncherTest(DesktopTestCase):
    """A double click on the icon in an XEmbed tray; the D-Bus tray's one activation stands for it."""

    def test_activation_on_a_status_notifier_panel_starts_the_mail_program(self):
        desktop = self.desktop(tray="sni")
        started = os.path.join(desktop.folder, "mail-program-started")
        mail_program = os.path.join(desktop.folder, "mail-program")
        write_script(mail_program, f'touch "{started}"\n')
        settings = dict(complete_settings(closed_loopback_port()), PathToClient=mail_program)

        run = desktop.start_program(program_path(), settings=settings)
        wait_started(run).activate()
        wait_for(lambda: os.path.exists(started), 10, "the mail program to start")

    def test_double_click_starts_the_mail_program_in_the_program_folder(self):
        desktop = self.desktop(tray="xembed")
        mail_folder = os.path.join(desktop.folder, "mail")
        os.mkdir(mail_folder)
        started = os.path.join(desktop.folder, "mail-program-started")
        mail_program = os.path.join(mail_folder, "mail-program")
        write_script(mail_program, f'pwd > "{started}.part" && mv "{started}.part" "{started}"\n')
        settings = dict(complete_settings(closed_loopback_port()), PathToClient=mail_program)

        run = desktop.start_program(program_path(), settings=settings)
        run.wait_tray_icon().double_click()
        wait_for(lambda: os.path.exists(started), 10, "the mail program to start")
        self.assertEqual(read_text(started).strip(), os.path.dirname(run.executable),
                         "the mail program does not run in the program's own folder")

    def test_double_click_in_www_mode_opens_the_address_as_written(self):
        desktop = self.desktop(tray="xembed")
        tools = os.path.join(desktop.folder, "tools")
        os.mkdir(tools)
        opened = os.path.join(desktop.folder, "opened")
        write_script(os.path.join(tools, "xdg-open"), f'printf "%s\\n" "$@" >> "{opened}"\n')
        address = "HTTPS://Mail.Example.org/Inbox?folder=Nya"
        settings = dict(complete_settings(closed_loopback_port()), PathToClient=address, WWW=1)

        run = desktop.start_program(program_path(), settings=settings,
                                    env={"PATH": tools + os.pathsep + desktop.env["PATH"]})
        run.wait_tray_icon().double_click()
        wait_for(lambda: os.path.exists(opened), 10, "xdg-open to be called")
        self.assertStaysTrue(lambda: read_text(opened) == address + "\n", 1,
                             "the address was not handed over once and unchanged")


if __name__ == "__main__":
    main()

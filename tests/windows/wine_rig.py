"""A Wine desktop for one whole-program test of the Windows build: a private X server whose keyboard
map hands Ctrl+Alt+F1..F12 to programs, a Wine prefix of the tests' own (made once, then kept warm),
and "wine explorer /desktop=NAME,1024x768" with its task bar, in which the program runs.

    with WineDesktop(work_folder, probe_exe) as desktop:
        run = desktop.start_program(exe, ["/ENGLISH"], settings={...})
        desktop.wait_tip(lambda tip: tip.startswith("You have"))

The desktop reads back what it shows through wine_probe.exe (the tray's tips, the visible windows)
and writes settings files with the platform's own private-profile functions. Every process of the
session ends with it: the Wine processes through "wineserver -k" for this prefix, the rest by PID.
"""

import fcntl
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "desktop"))

from desktop_rig import DesktopSession, settings_file_text, wait_for  # noqa: E402
from x11_tools import Screen, write_png  # noqa: E402

DESKTOP_NAME = "brevgluggen"
SCREEN = "1024x768"
ENGLISH_TITLE = "Mailhatch 1.10"
ASOUND_CONF = "pcm.!default { type null }\nctl.!default { type hw card 0 }\n"


def keyboard_folder(work):
    """A copy of the X keyboard data in which Ctrl+Alt+F1..F12 are plain F-keys, not the server's
    console switch: Wine has no global key grab, so the key must reach its focused window."""
    folder = os.path.join(work, "xkb")
    if os.path.isdir(folder):
        return folder
    draft = folder + f".{os.getpid()}"
    shutil.copytree("/usr/share/X11/xkb", draft, symlinks=True)
    subprocess.run(["perl", "-pi", "-e", r"s/XF86_Switch_VT_(\d+)/F$1/g",
                    os.path.join(draft, "symbols", "srvr_ctrl")], check=True)
    os.rename(draft, folder)
    return folder


def wine_environment(work, display):
    env = {
        "WINEPREFIX": os.path.join(work, "prefix"),
        "WINEDEBUG": "-all",
        # No Mono or Gecko installer at the prefix's creation, no menu entries on the host.
        "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        "ALSA_CONFIG_PATH": os.path.join(work, "asound.conf"),
        "DISPLAY": display,
    }
    if not os.path.exists(env["ALSA_CONFIG_PATH"]):
        with open(env["ALSA_CONFIG_PATH"], "w") as conf:
            conf.write(ASOUND_CONF)  # a null sound device: sound calls succeed and play nothing
    return env


class WineDesktop(DesktopSession):
    def __init__(self, work, probe):
        super().__init__(tray=None)
        self.work, self.probe_exe = work, probe
        os.makedirs(work, exist_ok=True)

    def start(self):
        super().start()
        self.env.update(wine_environment(self.work, self.env["DISPLAY"]))
        self._make_prefix_once()
        # The desktop and its task bar come up before the program, as at a user's log-in. The probe
        # holds it for the whole session: Wine closes a desktop about a second after the last
        # program other than its task bar has left, and a pause between a test's Wine commands
        # (a slow start under load) would reach that.
        self.spawn(["wine", "explorer", f"/desktop={DESKTOP_NAME},{SCREEN}", self.probe_exe, DESKTOP_NAME, "hold"],
                   log_name="explorer")
        wait_for(lambda: self.probe("tips", check=False) is not None, 60, "the Wine desktop's task bar")

    def stop(self):
        if self.env.get("WINEPREFIX"):
            subprocess.run(["wineserver", "-k"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        super().stop()

    def _start_x_server(self):
        xkb = keyboard_folder(self.work)
        number = self._spawn_and_read_ready_line(
            lambda fd: ["Xvfb", "-displayfd", str(fd), "-screen", "0", f"{SCREEN}x24", "-nolisten", "tcp",
                        "-noreset", "-xkbdir", xkb], "Xvfb")
        self.env["DISPLAY"] = f":{number}"
        self.screen = Screen(self.env["DISPLAY"])

    def _make_prefix_once(self):
        """The first test makes the prefix (10-20 s); the others find it ready."""
        with open(os.path.join(self.work, "prefix.lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not os.path.exists(os.path.join(self.env["WINEPREFIX"], "system.reg")):
                self.run_wine(["wineboot", "-i"], timeout=180)

    # -- running Wine programs -------------------------------------------------------------------

    def run_wine(self, argv, timeout=60, check=True):
        """Runs a Wine command to its end and returns its standard output. The output goes through
        a file: Wine's service processes, started by whichever command comes first, would keep a
        pipe open for ever."""
        with tempfile.TemporaryFile(dir=self.folder) as out:
            done = subprocess.run(argv, env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            text = out.read().decode("utf-8", "replace")
        if check and done.returncode != 0:
            raise RuntimeError(f"{argv} ended with {done.returncode}: {text}")
        return text if done.returncode == 0 else None

    def probe(self, *args, check=True):
        """wine_probe.exe on this desktop; its output, or None when it failed and check is off."""
        return self.run_wine(["wine", self.probe_exe, DESKTOP_NAME, *args], check=check)

    def install_program(self, executable, settings=None, name="program"):
        """Copies the program into a folder of its own, with the settings file beside it when
        settings are given (a dict of the INI keys, or INI text)."""
        folder = tempfile.mkdtemp(prefix=f"{name}-", dir=self.folder)
        target = os.path.join(folder, os.path.basename(executable))
        shutil.copy2(executable, target)
        if settings is not None:
            text = settings if isinstance(settings, str) else settings_file_text(settings)
            with open(self.settings_path(target), "w", newline="") as ini:
                ini.write(text)
        return WineProgram(self, target, name)

    def end_session(self):
        """Ends the desktop session as a log-off does: every window hears that the session ends."""
        self.run_wine(["wine", "explorer", f"/desktop={DESKTOP_NAME},{SCREEN}", "wineboot", "--end-session",
                       "--shutdown"])

    # -- what the desktop shows ------------------------------------------------------------------

    def tips(self):
        """The tray's icons: ((left, top, right, bottom) on the screen, tip) each; a line break in a
        tip shows as "|"."""
        icons = []
        for line in self.probe("tips").splitlines():
            place, _, tip = line.partition("\t")
            icons.append((tuple(int(n) for n in place.split()), tip))
        return icons

    def balloons(self):
        """The texts of the tray's balloons on screen; a line break shows as "|"."""
        return [line for line in self.probe("balloons").splitlines() if line]

    def program_icon(self):
        """The place and tip of the one icon that is not the task bar's own, or None."""
        icons = self.tips()
        return icons[-1] if icons else None

    def wait_tip(self, accept, timeout=30, what="the tray tip"):
        def tip():
            icon = self.program_icon()
            return icon[1] if icon and accept(icon[1]) else None

        return wait_for(tip, timeout, what, interval=0.2)

    def windows(self):
        """Visible top-level windows with a title: {title: (client left, top, width, height)}."""
        shown = {}
        for line in self.probe("windows").splitlines():
            place, _, title = line.partition("\t")
            shown[title] = tuple(int(n) for n in place.split())
        return shown

    def wait_window(self, title, timeout=30):
        return wait_for(lambda: self.windows().get(title), timeout, f"the window {title!r}", interval=0.2)

    def desktop_window(self):
        """The X window that holds the whole Wine desktop."""
        return next(w for w in self.screen.top_level_windows() if w.title().endswith("Wine desktop"))

    def press_keys_on_desktop(self, *keys):
        """Presses keys while the Wine desktop holds the X keyboard focus."""
        self.press_keys(*keys, window=self.desktop_window())

    def click_at(self, x, y, double=False):
        repeat = ["--repeat", "2", "--delay", "80"] if double else []
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", *repeat, "1"], env=self.env,
                       check=True, timeout=20)

    def screenshot_region(self, name, left, top, width, height):
        """The desktop's pixels in a rectangle as (width, height, RGBA bytes), kept as <name>.png."""
        desktop_width, _height, rgba = self.desktop_window().rgba()
        region = b"".join(rgba[4 * ((top + y) * desktop_width + left): 4 * ((top + y) * desktop_width + left + width)]
                          for y in range(height))
        write_png(os.path.join(self.logs, f"{name}.png"), width, height, region)
        return width, height, region


class WineProgram:
    """A program installed in a folder of its own on a Wine desktop."""

    def __init__(self, desktop, executable, name):
        self.desktop, self.executable, self.name = desktop, executable, name

    @property
    def folder(self):
        return os.path.dirname(self.executable)

    @property
    def settings_path(self):
        return self.desktop.settings_path(self.executable)

    def start(self, args=()):
        """Starts it on the desktop, with its own folder as its current folder."""
        self.desktop.spawn(["wine", "explorer", f"/desktop={DESKTOP_NAME},{SCREEN}", self.executable, *args],
                           log_name=self.name, cwd=self.folder)
        return self


def windows_path(unix_path):
    """The path as a Windows program sees it: Wine's drive Z: is the host's root folder."""
    return "Z:" + unix_path.replace("/", "\\")

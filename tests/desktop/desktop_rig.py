"""A private desktop session for one whole-program test: an X server (Xvfb), a private runtime folder
and home, a session bus, a tray host and a sound server. Every process is started by this module and
stopped by its PID at the end, also when a test fails; each also dies with the test process.

    with DesktopSession(tray="sni", sound=True) as desktop:
        run = desktop.start_program(program, settings={...})
        icon = run.wait_tray_icon()
        icon.tip(), icon.image()

Set BG_DESKTOP_KEEP=1 to keep the session's folder (logs, screenshots) after the test.
"""

import ctypes
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from tray_tools import BusClient, SniTrayIcon, XembedTrayIcon
from x11_tools import CTRL_ALT, Screen, Window, write_png

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = "/usr/bin/python3"  # Debian's, which has python3-gi
CAPTIONS = ("Brevgluggen 1.10", "Mailhatch 1.10")
KEY_ALPHABET = "MRZHWKTPYXNSJVLQ"

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def wait_for(condition, timeout, what, interval=0.05):
    """Polls until condition() gives a true value and returns it; raises TimeoutError otherwise."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


def read_line_from_fd(fd, timeout):
    """Reads one line that a child writes to a pipe (the line may come in several writes)."""
    text = b""
    deadline = time.monotonic() + timeout
    while not text.endswith(b"\n"):
        ready, _, _ = select.select([fd], [], [], max(0.0, deadline - time.monotonic()))
        chunk = os.read(fd, 512) if ready else b""
        if not chunk:
            break
        text += chunk
    return text.decode().strip()


def die_with_parent():
    """Runs in the child before exec: the kernel sends SIGTERM when the test process goes away."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def scramble_credential(text):
    """The stored form of a user name or password in the settings file."""
    digits = "".join(f"{(ord(c) & 0xFF) ^ 0xFF:02X}" for c in text)
    return "".join(KEY_ALPHABET[int(d, 16)] for d in digits)


def settings_file_text(settings):
    """INI text for the program's settings; user name and password are scrambled as the program
    stores them. Keys not given are left out, so the program takes its defaults for them; keys beyond
    the first seven (UseTLS, Protocol ...) follow them in the order given."""
    seven = ("POP3Server", "Port", "UserName", "Password", "PathToClient", "PathToSound", "WWW")
    lines = ["[Main]"]
    for key in (*seven, *(key for key in settings if key not in seven)):
        if key in settings:
            value = str(settings[key])
            if key in ("UserName", "Password"):
                value = scramble_credential(value)
            lines.append(f"{key}={value}")
    return "\r\n".join(lines) + "\r\n"


class DesktopSession:
    def __init__(self, tray="sni", sound=False, screen="1024x768x24"):
        if tray not in ("sni", "xembed", None):
            raise ValueError(f"unknown tray kind {tray!r}")
        self.tray_kind, self.sound, self.screen_size = tray, sound, screen
        self.processes = []
        self.tray_process = None
        self.folder = None
        self.screen = None
        self.bus = None

    # -- life cycle ------------------------------------------------------------------------------

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        self.folder = tempfile.mkdtemp(prefix="bg-desktop-")
        self.runtime_dir = self._make_dir("run", 0o700)
        self.home = self._make_dir("home", 0o700)
        self.logs = self._make_dir("logs", 0o755)
        self.env = self._base_environment()
        self._start_x_server()
        self._start_session_bus()
        if self.tray_kind:
            self.start_tray()
        if self.sound:
            self._start_sound_server()

    def stop(self):
        for process in reversed(self.processes):
            self.end_process(process)
        self.processes.clear()
        for closer in (self.bus, self.screen):
            try:
                if closer is not None:
                    closer.close()
            except Exception:
                pass
        self.bus = self.screen = None
        if self.folder and not os.environ.get("BG_DESKTOP_KEEP"):
            shutil.rmtree(self.folder, ignore_errors=True)
        elif self.folder:
            print(f"desktop session kept in {self.folder}", file=sys.stderr)

    def _make_dir(self, name, mode):
        path = os.path.join(self.folder, name)
        os.mkdir(path, mode)
        os.chmod(path, mode)
        return path

    def _base_environment(self):
        env = {k: v for k, v in os.environ.items()
               if k in ("PATH", "LANG", "LC_ALL", "TZ", "USER", "LOGNAME", "SHELL", "TERM")}
        env.update({
            "HOME": self.home,
            "XDG_RUNTIME_DIR": self.runtime_dir,
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
            "XDG_STATE_HOME": os.path.join(self.home, ".local", "state"),
            "QT_QPA_PLATFORM": "xcb",
            "NO_AT_BRIDGE": "1",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "0",
        })
        env.setdefault("LANG", "C.UTF-8")
        return env

    # -- processes -------------------------------------------------------------------------------

    def spawn(self, argv, log_name=None, stdout=None, env=None, cwd=None, pass_fds=()):
        """Starts a process of this session; its output goes to logs/<log_name>.log."""
        log_name = log_name or os.path.basename(argv[0])
        log = open(os.path.join(self.logs, f"{log_name}.log"), "ab")
        process = subprocess.Popen(
            argv, env=env or self.env, cwd=cwd, stdin=subprocess.DEVNULL,
            stdout=stdout if stdout is not None else log, stderr=log,
            pass_fds=pass_fds, preexec_fn=die_with_parent,
        )
        log.close()
        self.processes.append(process)
        return process

    def end_process(self, process, grace=5.0):
        """Asks the process to end by its PID, then kills it if it does not."""
        if process.poll() is None:
            try:
                os.kill(process.pid, signal.SIGTERM)
                process.wait(grace)
            except subprocess.TimeoutExpired:
                os.kill(process.pid, signal.SIGKILL)
                process.wait()
        if process in self.processes:
            self.processes.remove(process)

    def log_text(self, log_name):
        path = os.path.join(self.logs, f"{log_name}.log")
        if not os.path.exists(path):
            return ""
        with open(path, "rb") as log:
            return log.read().decode("utf-8", "replace")

    # -- daemons ---------------------------------------------------------------------------------

    def _spawn_and_read_ready_line(self, make_argv, log_name):
        """Starts a daemon that writes one line to a given descriptor when it is ready (make_argv
        gets the descriptor's number) and returns that line."""
        read_end, write_end = os.pipe()
        self.spawn(make_argv(write_end), log_name=log_name, pass_fds=(write_end,))
        os.close(write_end)
        try:
            line = read_line_from_fd(read_end, 20)
        finally:
            os.close(read_end)
        if not line:
            raise RuntimeError(f"{log_name} did not start: " + self.log_text(log_name))
        return line

    def _start_x_server(self):
        number = self._spawn_and_read_ready_line(
            lambda fd: ["Xvfb", "-displayfd", str(fd), "-screen", "0", self.screen_size, "-nolisten", "tcp",
                        "-noreset", "-br"], "Xvfb")
        self.env["DISPLAY"] = f":{number}"
        # The default keymap gives Ctrl+Alt+F1..F12 to the server's console switch.
        subprocess.run(["setxkbmap", "-option", "srvrkeys:none"], env=self.env, check=True, timeout=20)
        self.screen = Screen(self.env["DISPLAY"])

    def _start_session_bus(self):
        socket = os.path.join(self.runtime_dir, "bus")
        config = os.path.join(self.folder, "bus.conf")
        with open(config, "w") as conf:
            conf.write(BUS_CONFIG.format(socket=socket))
        self._spawn_and_read_ready_line(
            lambda fd: ["dbus-daemon", f"--config-file={config}", "--nofork", "--nopidfile",
                        f"--print-address={fd}"], "dbus-daemon")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = f"unix:path={socket}"
        self.bus = BusClient(self.env["DBUS_SESSION_BUS_ADDRESS"])

    def start_tray(self):
        """Starts the tray host of the session's kind and waits until programs can dock into it."""
        self.tray_starts = getattr(self, "tray_starts", 0) + 1
        if self.tray_kind == "sni":
            log = f"sni_watcher-{self.tray_starts}"
            self.tray_process = self.spawn([PYTHON, os.path.join(HERE, "sni_watcher.py")], log_name=log)
            wait_for(lambda: "ready" in self.log_text(log) or self.tray_process.poll() is not None,
                     20, "the StatusNotifierItem watcher")
        else:
            self.tray_process = self.spawn(["trayer", "--edge", "top", "--align", "right", "--widthtype",
                                            "request", "--height", "24", "--SetDockType", "true"])
            wait_for(lambda: self.screen.selection_owner("_NET_SYSTEM_TRAY_S0") or
                     self.tray_process.poll() is not None, 20, "trayer")
        if self.tray_process.poll() is not None:
            raise RuntimeError(f"the {self.tray_kind} tray host ended at start")

    def stop_tray(self):
        if self.tray_process is not None:
            self.end_process(self.tray_process)
            self.tray_process = None

    def restart_tray(self):
        self.stop_tray()
        self.start_tray()

    def _start_sound_server(self):
        socket = os.path.join(self.runtime_dir, "pulse", "native")
        self.spawn(["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
                    f"--load=module-native-protocol-unix socket={socket} auth-anonymous=1",
                    "--load=module-null-sink sink_name=rig rate=48000"])
        self.env["PULSE_SERVER"] = f"unix:{socket}"

        def answers():
            return os.path.exists(socket) and subprocess.run(
                ["pactl", "info"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                timeout=10).returncode == 0

        wait_for(answers, 20, "pulseaudio", interval=0.1)

    def _stream_listing(self, kind):
        listing = subprocess.run(["pactl", "list", "short", kind], env=self.env, capture_output=True,
                                 text=True, timeout=10)
        return listing.stdout.strip() if listing.returncode == 0 else None

    def wait_until_recording(self, timeout=20):
        """Waits until the sound server has a recording stream (our recorder) connected."""
        wait_for(lambda: self._stream_listing("source-outputs"), timeout, "the recorder to connect",
                 interval=0.1)

    def wait_until_nothing_plays(self, timeout=20):
        """Waits until no program has a playback stream open on the sound server."""
        wait_for(lambda: self._stream_listing("sink-inputs") == "", timeout, "the sound to end",
                 interval=0.1)

    # -- the desktop -----------------------------------------------------------------------------

    def press_keys(self, *keys, window=None):
        """Presses key combinations such as "ctrl+alt+F5" (xdotool names), after focusing window."""
        if window is not None:
            self.screen.focus(window)
        subprocess.run(["xdotool", "key", "--delay", "50", *keys], env=self.env, check=True, timeout=20)

    def click(self, window, x, y, button=1):
        """Clicks at (x, y) inside the window. Without a window manager this is also what gives a
        window's edit box the keyboard focus."""
        subprocess.run(["xdotool", "mousemove", "--window", str(window.id), str(x), str(y), "click",
                        str(button)], env=self.env, check=True, timeout=20)

    def type_text(self, text):
        """Types the text into whatever has the keyboard focus."""
        subprocess.run(["xdotool", "type", "--delay", "30", text], env=self.env, check=True, timeout=60)

    def hot_key_is_held(self):
        """True when some client holds the passive grab of Ctrl+Alt+F5 on the root window. The probe
        holds the grab itself for a moment when nobody else does: call it only once the program under
        test has finished starting, or its own grab may fail."""
        return self.screen.key_grab_is_held("F5", CTRL_ALT)

    def screenshot(self, name, window=None):
        """Saves the screen, or one window, as <session>/logs/<name>.png and returns the path."""
        target = window or Window(self.screen, self.screen.root)
        path = os.path.join(self.logs, f"{name}.png")
        write_png(path, *target.rgba())
        return path

    def record_sound(self, name="sound"):
        from sound_tools import SoundRecorder

        return SoundRecorder(self, os.path.join(self.logs, f"{name}.raw")).start()

    def tray_icon_of(self, pid):
        """The process's tray icon in the session's tray host, or None while there is none."""
        if self.tray_kind == "sni":
            if self.tray_process is None:
                return None
            for name, path in self.bus.registered_items():
                try:
                    if self.bus.pid_of(name) == pid:
                        return SniTrayIcon(self.bus, name, path)
                except Exception:
                    continue  # the owner left while we looked
            return None
        windows = self.screen.embedded_windows_of(pid)
        return XembedTrayIcon(self.screen, windows[0], self.env) if windows else None

    # -- the program under test ------------------------------------------------------------------

    def start_program(self, executable, args=(), settings=None, copy=True, env=None, name="program"):
        """Starts a program. With copy, the executable is copied into a folder of its own, where
        settings (a dict of the INI keys, or the INI text) are written beside it."""
        if copy:
            folder = tempfile.mkdtemp(prefix=f"{name}-", dir=self.folder)
            target = os.path.join(folder, os.path.basename(executable))
            shutil.copy2(executable, target)
            executable = target
            if settings is not None:
                text = settings if isinstance(settings, str) else settings_file_text(settings)
                with open(self.settings_path(executable), "w", newline="") as ini:
                    ini.write(text)
        run_env = dict(self.env)
        run_env.update(env or {})
        process = self.spawn([executable, *args], log_name=name, env=run_env,
                             cwd=os.path.dirname(executable))
        return ProgramRun(self, process, executable, name)

    @staticmethod
    def settings_path(executable):
        stem, extension = os.path.splitext(executable)
        return (stem if extension else executable) + ".INI"


class ProgramRun:
    """One running program inside a desktop session."""

    def __init__(self, session, process, executable, name):
        self.session, self.process, self.executable, self.name = session, process, executable, name

    @property
    def pid(self):
        return self.process.pid

    @property
    def settings_path(self):
        return self.session.settings_path(self.executable)

    def alive(self):
        return self.process.poll() is None

    def output(self):
        return self.session.log_text(self.name)

    def wait_tray_icon(self, timeout=20):
        """Its tray icon, once registered (StatusNotifierItem) or docked and painted (XEmbed)."""

        def icon():
            if not self.alive():
                raise AssertionError(f"{self.name} ended ({self.process.returncode}): {self.output()}")
            found = self.session.tray_icon_of(self.pid)
            return found if found is not None and (found.kind != "xembed" or found.painted()) else None

        return wait_for(icon, timeout, f"the tray icon of {self.name}")

    def windows(self):
        """Its viewable top-level windows."""
        return self.session.screen.windows_of(self.pid)

    def window_titled(self, titles=CAPTIONS):
        return next((w for w in self.windows() if w.title() in titles), None)

    def wait_window(self, titles=CAPTIONS, timeout=20):
        return wait_for(lambda: self.window_titled(titles), timeout, f"a window titled {titles}")

    def request_close(self, window):
        self.session.screen.request_close(window)

    def wait_exit(self, timeout=20):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise TimeoutError(f"{self.name} did not end within {timeout} s") from None

    def stop(self):
        self.session.end_process(self.process)

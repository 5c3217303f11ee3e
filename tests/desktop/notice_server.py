"""The session's notification service for the whole-program tests: dunst on the session's own bus and
display, with a configuration of its own that keeps every notice on screen and runs a logger for each
one shown (a replacement through replaces_id too). The notices are read back from that log.

    notices = NoticeServer(desktop)      # started and owning org.freedesktop.Notifications
    notices.wait_count(1)                # [{"id", "app", "summary", "body", "icon"}], oldest first
    notices.invoke_default()             # the "default" action of the notice on screen, as a click
    notices.notify_calls()               # the Notify calls with every argument, as text
"""

import json
import os
import stat

from desktop_rig import PYTHON, wait_for
from tray_tools import GLib

NAME = "org.freedesktop.Notifications"

CONFIG = """[global]
font = DejaVu Sans 9
idle_threshold = 0
show_age_threshold = -1
sticky_history = yes
history_length = 100
stack_duplicates = false
dmenu = /bin/false
browser = /bin/false
always_run_script = true
mouse_left_click = do_action, close_current
[urgency_low]
timeout = 0
[urgency_normal]
timeout = 0
[urgency_critical]
timeout = 0
[log_all]
appname = "*"
script = {script}
"""

LOGGER = """#!{python}
import json, os
entry = {{"id": os.environ.get("DUNST_ID"), "app": os.environ.get("DUNST_APP_NAME"),
          "summary": os.environ.get("DUNST_SUMMARY"), "body": os.environ.get("DUNST_BODY"),
          "icon": os.environ.get("DUNST_ICON_PATH")}}
with open({log!r}, "a", encoding="utf-8") as log:
    log.write(json.dumps(entry) + "\\n")
"""


class NoticeServer:
    def __init__(self, desktop):
        self.desktop = desktop
        folder = os.path.join(desktop.folder, "notices")
        os.mkdir(folder)
        self.log = os.path.join(folder, "shown.jsonl")
        script = os.path.join(folder, "log-notice")
        with open(script, "w") as out:
            out.write(LOGGER.format(python=PYTHON, log=self.log))
        os.chmod(script, stat.S_IRWXU)
        config = os.path.join(folder, "dunstrc")
        with open(config, "w") as out:
            out.write(CONFIG.format(script=script))
        # Every Notify call with all its arguments (the hints among them), as the bus carried it.
        desktop.spawn(["dbus-monitor", "--address", desktop.env["DBUS_SESSION_BUS_ADDRESS"],
                       "interface='org.freedesktop.Notifications',member='Notify'"], log_name="notify-calls")
        self.process = desktop.spawn(["dunst", "-config", config], log_name="dunst")
        # Asking the bus, not the name itself: nothing is started by a call to a name nobody owns.
        wait_for(self._owns_name, 10, "dunst owning " + NAME)

    def _owns_name(self):
        if self.process.poll() is not None:
            raise RuntimeError("dunst ended: " + self.desktop.log_text("dunst"))
        try:
            return self.desktop.bus.pid_of(NAME) == self.process.pid
        except Exception:
            return False

    def shown(self):
        """Every notice shown so far, oldest first."""
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as log:
            return [json.loads(line) for line in log if line.strip()]

    def notify_calls(self):
        """The Notify calls so far, as dbus-monitor printed them."""
        return self.desktop.log_text("notify-calls")

    def wait_count(self, count, timeout=30):
        return wait_for(lambda: len(self.shown()) >= count and self.shown(), timeout, f"{count} notices")

    def invoke_default(self):
        """The default action of the first notice on screen, as dunst does it on a click."""
        self.desktop.bus.call("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                              "org.dunstproject.cmd0", "NotificationAction", GLib.Variant("(u)", (0,)))

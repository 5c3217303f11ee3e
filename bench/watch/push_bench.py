#!/usr/bin/python3
"""Push benchmark: how long after another client's APPEND the tray of the resident program shows the
new count, with the program watching a private Dovecot's INBOX in IDLE. Beside it, in the same run,
a raw socket client idling on the same mailbox gives the floor (the server's own delay before it
tells an idling session), and the POP3 timer's average wait (half its 60 s period) the peer. It
also prints what the watch costs while nothing happens: CPU time and wake-ups (context switches of
all the program's threads) over a quiet period, watching, and beside it the same program checking
the same mailbox on a Dovecot that offers no IDLE (a fresh connection at each timer tick, no
watch). It asserts nothing.

    push_bench.py --program PATH [--rounds 20] [--idle-seconds 60]
"""

import argparse
import imaplib
import os
import socket
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "desktop"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "idle"))

from desktop_rig import DesktopSession, wait_for  # noqa: E402
from dovecot_server import DovecotServer  # noqa: E402
from idle_bench import cpu_ns_and_switches  # noqa: E402

POP3_TIMER_AVERAGE_WAIT_S = 30.0
# Dovecot's capabilities without IDLE, so that the program checks without watching.
WITHOUT_IDLE = "imap_capability = IMAP4rev1 SASL-IR LITERAL+ ESEARCH\n"
MESSAGE = b"From: sender@bg.test\r\nTo: anna@bg.test\r\nSubject: Pushed\r\n\r\nBody.\r\n"


class RawIdler:
    """A client of plain sockets in IDLE on INBOX that notes when each EXISTS arrives."""

    def __init__(self, server):
        self.connection = socket.create_connection(("127.0.0.1", server.port))
        self.lines = self.connection.makefile("rb")
        self.lines.readline()
        self.command(f'a LOGIN "{server.user}" "{server.password}"', b"a ")
        self.command("b EXAMINE INBOX", b"b ")
        self.connection.sendall(b"c IDLE\r\n")
        while not self.lines.readline().startswith(b"+"):
            pass
        self.arrivals = []
        self.thread = threading.Thread(target=self.listen, daemon=True)
        self.thread.start()

    def command(self, line, tag):
        self.connection.sendall(line.encode() + b"\r\n")
        while not self.lines.readline().startswith(tag):
            pass

    def listen(self):
        for line in self.lines:
            if line.rstrip().endswith(b"EXISTS"):
                self.arrivals.append(time.monotonic())

    def close(self):
        self.connection.close()


def tip_for(count):
    return "You have 1 new e-mail message." if count == 1 else f"You have {count} new e-mail messages."


def measure(icon, server, rounds, unseen):
    idler = RawIdler(server)
    appender = imaplib.IMAP4("127.0.0.1", server.port)
    appender.login(server.user, server.password)
    tray, floor = [], []
    for _ in range(rounds):
        seen_by_idler = len(idler.arrivals)
        appender.append("INBOX", None, None, MESSAGE)
        appended = time.monotonic()
        unseen += 1
        wait_for(lambda: icon.tip() == tip_for(unseen), 15, "the tray's new count", interval=0.005)
        tray.append(time.monotonic() - appended)
        wait_for(lambda: len(idler.arrivals) > seen_by_idler, 15, "the raw idler's EXISTS", interval=0.005)
        floor.append(idler.arrivals[seen_by_idler] - appended)
        time.sleep(0.2)
    appender.logout()
    idler.close()
    return tray, floor


def idle_cost(pid, seconds):
    before = cpu_ns_and_switches(pid)
    time.sleep(seconds)
    after = cpu_ns_and_switches(pid)
    return (after[0] - before[0]) / 1e6, after[1] - before[1]


def report(tray, floor, idle, unwatched, idle_seconds):
    def line(label, values):
        print(f"{label:<44}{statistics.median(values) * 1000:>9.0f}{min(values) * 1000:>9.0f}"
              f"{max(values) * 1000:>9.0f}")
    print(f"push benchmark: {len(tray)} appends by another client, private Dovecot, watch in IDLE")
    print(f"{'':<44}{'median':>9}{'min':>9}{'max':>9}   (ms)")
    line("APPEND to the tray's new count", tray)
    line("APPEND to EXISTS at a raw IDLE client (floor)", floor)
    line("the program's own share (tray - floor)", [t - f for t, f in zip(tray, floor)])
    median = statistics.median(tray)
    print(f"POP3 timer's average wait: {POP3_TIMER_AVERAGE_WAIT_S * 1000:.0f} ms; "
          f"the push is {POP3_TIMER_AVERAGE_WAIT_S / median:.0f}x sooner")
    per_minute = 60.0 / idle_seconds
    print(f"nothing happening for {idle_seconds} s, per minute:{'CPU ms':>12}{'wake-ups':>10}")
    for label, (cpu_ms, wakeups) in (("watching in IDLE", idle), ("not watching (server without IDLE)", unwatched)):
        print(f"  {label:<38}{cpu_ms * per_minute:>10.1f}{wakeups * per_minute:>10.0f}")
    print(f"  the watch's own wake-ups per minute{(idle[1] - unwatched[1]) * per_minute:>23.0f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--idle-seconds", type=int, default=60)
    options = parser.parse_args()

    def start(desktop, server):
        settings = {"POP3Server": "127.0.0.1", "Port": server.port, "UserName": server.user,
                    "Password": server.password, "PathToClient": "/usr/bin/true",
                    "PathToSound": "/nonexistent.wav", "WWW": 0, "Protocol": 1}
        run = desktop.start_program(options.program, ["/ENGLISH"], settings=settings)
        icon = run.wait_tray_icon(timeout=30)
        wait_for(lambda: icon.tip() == tip_for(2), 15, "the first check")
        return run, icon

    with DesktopSession(tray="sni") as desktop:
        with DovecotServer(message_count=2, protocol="imap") as server:
            run, icon = start(desktop, server)
            idle = idle_cost(run.pid, options.idle_seconds)
            tray, floor = measure(icon, server, options.rounds, 2)
            run.stop()
        with DovecotServer(message_count=2, protocol="imap", extra_settings=WITHOUT_IDLE) as server:
            run, _ = start(desktop, server)
            unwatched = idle_cost(run.pid, options.idle_seconds)
            run.stop()
    report(tray, floor, idle, unwatched, options.idle_seconds)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Push benchmark: how long after another client's APPEND the tray of the resident program shows the
new count, with the program watching a private Dovecot's INBOX in IDLE. Beside it, in the same run,
a raw socket client idling on the same mailbox gives the floor (the server's own delay before it
tells an idling session), and the POP3 timer's average wait (half its 60 s period) the peer. It
also prints what the watch costs while nothing happens: CPU time and wake-ups over an idle period.
It asserts nothing.

    push_bench.py --program PATH [--rounds 20] [--idle-seconds 20]
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


def report(tray, floor, idle, idle_seconds):
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
    cpu_ms, wakeups = idle
    print(f"watching, nothing happening for {idle_seconds} s: CPU {cpu_ms:.1f} ms, wake-ups {wakeups}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--idle-seconds", type=int, default=20)
    options = parser.parse_args()

    with DovecotServer(message_count=2, protocol="imap") as server, DesktopSession(tray="sni") as desktop:
        settings = {"POP3Server": "127.0.0.1", "Port": server.port, "UserName": server.user,
                    "Password": server.password, "PathToClient": "/usr/bin/true",
                    "PathToSound": "/nonexistent.wav", "WWW": 0, "Protocol": 1}
        run = desktop.start_program(options.program, ["/ENGLISH"], settings=settings)
        icon = run.wait_tray_icon(timeout=30)
        wait_for(lambda: icon.tip() == tip_for(2), 15, "the first check")
        idle = idle_cost(run.pid, options.idle_seconds)
        tray, floor = measure(icon, server, options.rounds, 2)
        report(tray, floor, idle, options.idle_seconds)


if __name__ == "__main__":
    main()

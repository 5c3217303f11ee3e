#!/usr/bin/python3
"""Idle benchmark: the resident program beside the toolkit's floor (tray_floor, a minimal Qt 6 tray
program), both in one private desktop session. It prints, side by side with their ratio, the resident
memory after start-up, and the CPU time and wake-ups over an idle period. It asserts nothing.

    idle_bench.py --program PATH --floor PATH [--seconds 120] [--tray sni|xembed]

The program gets a complete settings file that points at a closed loopback port, so its checks (at
start-up and on each 60-second tick) fail at once. A wake-up is a context switch of any of the
process's threads; "seconds with wake-ups" counts the one-second samples in which any happened, so a
process that sleeps between its timer ticks shows about one such second per tick.
"""

import argparse
import glob
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "desktop"))

from desktop_rig import DesktopSession, wait_for  # noqa: E402
from pop3_stub import closed_loopback_port  # noqa: E402

SETTLE_SECONDS = 3


def memory_kib(pid):
    """(resident, proportional) set size in KiB."""
    fields = {}
    with open(f"/proc/{pid}/smaps_rollup") as rollup:
        for line in rollup:
            parts = line.split()
            if len(parts) >= 2 and parts[1].isdigit():
                fields[parts[0].rstrip(":")] = int(parts[1])
    return fields["Rss"], fields["Pss"]


def cpu_ns_and_switches(pid):
    """CPU time in nanoseconds and context switches, summed over the process's live threads."""
    cpu = switches = 0
    for task in glob.glob(f"/proc/{pid}/task/*"):
        try:
            with open(f"{task}/schedstat") as schedstat:
                cpu += int(schedstat.read().split()[0])
            with open(f"{task}/status") as status:
                for line in status:
                    if "ctxt_switches:" in line:  # voluntary and nonvoluntary
                        switches += int(line.split()[-1])
        except (FileNotFoundError, ProcessLookupError):
            continue  # a thread that ended while we read
    return cpu, switches


def thread_count(pid):
    return len(glob.glob(f"/proc/{pid}/task/*"))


class Subject:
    """One measured process: its figures are filled in as the run goes."""

    def __init__(self, name, run):
        self.name, self.run = name, run
        self.samples = []

    def sample(self):
        self.samples.append(cpu_ns_and_switches(self.run.pid))

    def idle_figures(self):
        cpu = (self.samples[-1][0] - self.samples[0][0]) / 1e6
        switches = self.samples[-1][1] - self.samples[0][1]
        busy = sum(1 for a, b in zip(self.samples, self.samples[1:]) if b[1] > a[1])
        return cpu, switches, busy


def start_subjects(desktop, program, floor):
    settings = {"POP3Server": "127.0.0.1", "Port": closed_loopback_port(), "UserName": "idle",
                "Password": "idle", "PathToClient": "/usr/bin/true", "PathToSound": "/nonexistent.wav",
                "WWW": 0}
    subjects = []
    for name, path, args, kwargs in (
        ("brevgluggen", program, ["/ENGLISH"], {"settings": settings}),
        ("tray_floor", floor, ["--tip", "You have no new e-mail messages."], {}),
    ):
        run = desktop.start_program(path, args, name=name, **kwargs)
        run.wait_tray_icon(timeout=30)
        subjects.append(Subject(name, run))
    time.sleep(SETTLE_SECONDS)
    return subjects


def row(label, first, second, digits=0):
    ratio = f"{first / second:8.2f}" if second else "       -"
    print(f"{label:<34}{first:>14.{digits}f}{second:>14.{digits}f}{ratio}")


def report(subjects, seconds, tray, memory):
    program, floor = subjects
    print(f"idle benchmark: {seconds} s idle after start-up, tray host {tray}")
    print(f"{'':<34}{program.name:>14}{floor.name:>14}{'ratio':>8}")
    row("resident memory after start (KiB)", memory[0][0], memory[1][0])
    row("proportional memory (PSS, KiB)", memory[0][1], memory[1][1])
    row("threads", thread_count(program.run.pid), thread_count(floor.run.pid))
    (p_cpu, p_switch, p_busy), (f_cpu, f_switch, f_busy) = program.idle_figures(), floor.idle_figures()
    row("CPU time while idle (ms)", p_cpu, f_cpu, 2)
    row("wake-ups while idle", p_switch, f_switch)
    row("seconds with wake-ups", p_busy, f_busy)
    print(f"timer ticks expected in the period: {seconds // 60} (every 60 s)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--floor", required=True)
    parser.add_argument("--seconds", type=int, default=120)
    parser.add_argument("--tray", choices=("sni", "xembed"), default="sni")
    options = parser.parse_args()

    with DesktopSession(tray=options.tray) as desktop:
        subjects = start_subjects(desktop, options.program, options.floor)
        memory = [memory_kib(s.run.pid) for s in subjects]
        deadline = time.monotonic() + options.seconds
        while True:
            for subject in subjects:
                subject.sample()
            if time.monotonic() >= deadline:
                break
            time.sleep(min(1.0, max(0.0, deadline - time.monotonic())))
        for subject in subjects:
            wait_for(subject.run.alive, 1, f"{subject.name} to be still running")
        report(subjects, options.seconds, options.tray, memory)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Idle benchmark: the resident program beside two floors in one private desktop session: the
toolkit's (tray_floor, a minimal Qt 6 tray program) and a TLS checker's (tray_floor --trust-store 1,
which also holds an OpenSSL context with the system's trust store and makes one verified handshake
at its first timer tick, as the program does). It prints, side by side with the program's ratio to
each floor, the resident memory after start-up and after one TLS check, and the CPU time and
wake-ups over an idle period; then the mappings (/proc/PID/smaps) that make the program's
resident memory differ from each floor's. It asserts nothing.

    idle_bench.py --program PATH --floor PATH [--seconds 120] [--tray sni|xembed]

The program gets a complete settings file with TLS from the first byte (UseTLS=1) that points at a
loopback port where nothing listens yet, so its start-up check fails at once, before any TLS. Once
the start-up figures are taken, a TLS server with a certificate of its own opens on that port: the
next 60-second tick makes one TLS check (refused at the certificate, after the whole handshake).
A wake-up is a context switch of any of the process's threads; "seconds with wake-ups" counts the
one-second samples in which any happened, so a process that sleeps between its timer ticks shows
about one such second per tick.
"""

import argparse
import glob
import os
import socket
import ssl
import subprocess
import sys
import threading
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


def mappings_kib(pid):
    """Resident KiB per mapped file (anonymous memory as one entry), from /proc/PID/smaps."""
    sizes, name = {}, None
    with open(f"/proc/{pid}/smaps") as smaps:
        for line in smaps:
            parts = line.split()
            if parts[0] == "Rss:":
                sizes[name] = sizes.get(name, 0) + int(parts[1])
            elif "-" in parts[0] and not parts[0].endswith(":"):  # a mapping's first line
                name = os.path.basename(parts[5]) if len(parts) > 5 else "[anonymous]"
    return sizes


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


class TlsServer:
    """A TLS server on a loopback port with a self-signed certificate; counts the connections."""

    def __init__(self, port, folder):
        certificate, key = os.path.join(folder, "bench.pem"), os.path.join(folder, "bench.key")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-keyout", key, "-out", certificate, "-days", "1", "-subj", "/CN=127.0.0.1"],
                       check=True, capture_output=True)
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(certificate, key)
        self.listener = socket.create_server(("127.0.0.1", port))
        self.connections = 0
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            self.connections += 1
            try:
                with self.context.wrap_socket(connection, server_side=True) as tls:
                    tls.sendall(b"+OK ready\r\n")
                    tls.recv(1024)
            except (OSError, ssl.SSLError):
                connection.close()


def start_subjects(desktop, program, floor, port):
    settings = {"POP3Server": "127.0.0.1", "Port": port, "UserName": "idle",
                "Password": "idle", "PathToClient": "/usr/bin/true", "PathToSound": "/nonexistent.wav",
                "WWW": 0, "UseTLS": 1}
    tip = ["--tip", "You have no new e-mail messages."]
    subjects = []
    for name, path, args, kwargs in (
        ("brevgluggen", program, ["/ENGLISH"], {"settings": settings}),
        ("tray_floor", floor, tip, {}),
        ("tls_floor", floor, tip + ["--trust-store", "1", "--tls-port", str(port)], {}),
    ):
        run = desktop.start_program(path, args, name=name, **kwargs)
        run.wait_tray_icon(timeout=30)
        subjects.append(Subject(name, run))
    time.sleep(SETTLE_SECONDS)
    return subjects


def row(label, values, digits=0):
    """The program's figure, each floor's, and the program's ratio to each floor."""
    figures = "".join(f"{value:>14.{digits}f}" for value in values)
    ratios = "".join(f"{values[0] / value:8.2f}" if value else "       -" for value in values[1:])
    print(f"{label:<36}{figures}{ratios}")


def mapping_difference(label, program, floor, shown=12):
    """The mappings whose resident size differs most between the program and a floor."""
    names = set(program) | set(floor)
    differences = sorted(((program.get(n, 0) - floor.get(n, 0), n) for n in names), reverse=True)
    print(f"{label}: {sum(program.values()) - sum(floor.values()):+} KiB in all; largest differences (KiB):")
    for difference, name in differences[:shown]:
        where = "program only" if name not in floor else ""
        print(f"  {difference:>+8}  {name:<40}{where}")
    others = sum(d for d, _ in differences[shown:])
    print(f"  {others:>+8}  (all other mappings)")


def report(subjects, seconds, tray, before, after, tls_checks, maps_before, maps_after):
    print(f"idle benchmark: {seconds} s idle after start-up, tray host {tray}")
    names = "".join(f"{s.name:>14}" for s in subjects)
    print(f"{'':<36}{names}{'ratio':>8}{'ratio':>8}")
    row("resident memory after start (KiB)", [m[0] for m in before])
    row("proportional memory (PSS, KiB)", [m[1] for m in before])
    row("resident memory after a TLS check", [m[0] for m in after])
    row("proportional memory after it", [m[1] for m in after])
    row("threads", [thread_count(s.run.pid) for s in subjects])
    idle = [s.idle_figures() for s in subjects]
    row("CPU time while idle (ms)", [f[0] for f in idle], 2)
    row("wake-ups while idle", [f[1] for f in idle])
    row("seconds with wake-ups", [f[2] for f in idle])
    print(f"timer ticks expected in the period: {seconds // 60} (every 60 s); "
          f"TLS handshakes the server saw: {tls_checks} (the program's and the TLS floor's)")
    mapping_difference("at start, program - tray_floor", maps_before[0], maps_before[1])
    mapping_difference("after the TLS check, program - tls_floor", maps_after[0], maps_after[2])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--floor", required=True)
    parser.add_argument("--seconds", type=int, default=120)
    parser.add_argument("--tray", choices=("sni", "xembed"), default="sni")
    options = parser.parse_args()

    with DesktopSession(tray=options.tray) as desktop:
        port = closed_loopback_port()
        subjects = start_subjects(desktop, options.program, options.floor, port)
        before = [memory_kib(s.run.pid) for s in subjects]
        maps_before = [mappings_kib(s.run.pid) for s in subjects]
        server = TlsServer(port, desktop.folder)
        deadline = time.monotonic() + options.seconds
        while True:
            for subject in subjects:
                subject.sample()
            if time.monotonic() >= deadline:
                break
            time.sleep(min(1.0, max(0.0, deadline - time.monotonic())))
        for subject in subjects:
            wait_for(subject.run.alive, 1, f"{subject.name} to be still running")
        after = [memory_kib(s.run.pid) for s in subjects]
        maps_after = [mappings_kib(s.run.pid) for s in subjects]
        report(subjects, options.seconds, options.tray, before, after, server.connections, maps_before, maps_after)

if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Several-mailbox benchmark: what watching five mailboxes costs the resident program against one.

Checks side by side: five POP3 mailboxes of one private Dovecot, each reached through a relay on
loopback that holds every answer of the server for a time of its own (by default 60, 120 ... 300 ms,
as five servers at different distances), so a check of each takes a known, different time. The
program checking all five at once is timed from the hot key (and from its start) until its tip shows
every mailbox's new count; beside it, in the same run, the program with each of the five mailboxes
alone. Printed: the five at once against the slowest alone (side by side: about 1x) and against the
sum of the five alone (one after the other: 1x).

Memory: the resident memory of the program watching five IMAP mailboxes (a private Dovecot over
STARTTLS with a test CA, each mailbox in IDLE on a connection of its own) against one, once the
tip shows every count and the program has settled. It asserts nothing.

    mailboxes_bench.py --program PATH [--rounds 5] [--delay-ms 60]
"""

import argparse
import asyncio
import os
import statistics
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "desktop"))
sys.path.insert(0, os.path.join(HERE, "..", "idle"))

from desktop_rig import DesktopSession, wait_for  # noqa: E402
from dovecot_server import DovecotServer  # noqa: E402
from idle_bench import memory_kib, thread_count  # noqa: E402
from several_mailboxes import count_tip, mailbox_counts, mailboxes_file_text  # noqa: E402

MAILBOXES = 5
SETTLE_SECONDS = 5
SHARED = {"PathToClient": "/usr/bin/true", "PathToSound": "/nonexistent.wav", "WWW": 0}


class DelayedLink:
    """A relay on a loopback port in front of a server's port that passes on each piece the server
    sends a fixed time after it came, as a slow network path would; what the client sends goes on at
    once. Every answer of the server thus reaches the client that much later."""

    def __init__(self, target_port, delay_seconds):
        self.target_port, self.delay = target_port, delay_seconds
        self.loop = asyncio.new_event_loop()
        self.server = self.loop.run_until_complete(asyncio.start_server(self._relay, "127.0.0.1", 0))
        self.port = self.server.sockets[0].getsockname()[1]
        threading.Thread(target=self.loop.run_forever, daemon=True).start()

    async def _relay(self, client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", self.target_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(self._pump(client_reader, server_writer, 0.0),
                             self._pump(server_reader, client_writer, self.delay), return_exceptions=True)

    async def _pump(self, reader, writer, delay):
        loop = asyncio.get_running_loop()
        pieces = asyncio.Queue()

        async def deliver():
            while (piece := await pieces.get()) is not None:
                due, data = piece
                await asyncio.sleep(max(0.0, due - loop.time()))
                writer.write(data)
                await writer.drain()
            writer.close()

        delivery = asyncio.create_task(deliver())
        try:
            while data := await reader.read(65536):
                pieces.put_nowait((loop.time() + delay, data))
        finally:
            pieces.put_nowait(None)
            await delivery


def mailbox_keys(port, server, name=None, **keys):
    section = {"POP3Server": server.address, "Port": port, "UserName": server.user, "Password": server.password,
               "Notify": 0, **keys}
    return {**section, "Name": name} if name else section


def counted(tip, names, count):
    """Whether the tip shows the count for every mailbox: one mailbox's count tip, or each line of several."""
    if len(names) == 1:
        return tip == count_tip(count)
    return mailbox_counts(tip) == {name: count for name in names}


def start_watching(desktop, program, mailboxes, names, count, env=None):
    """The program with these mailboxes, once its tip shows every count; and the seconds that took."""
    started = time.monotonic()
    run = desktop.start_program(program, ["/ENGLISH"], settings=mailboxes_file_text(SHARED, mailboxes),
                                env=env, name=f"program-{len(mailboxes)}-{names[0]}")
    icon = run.wait_tray_icon(timeout=30)
    wait_for(lambda: counted(icon.tip(), names, count), 60, f"every count of {names}", interval=0.005)
    return run, icon, time.monotonic() - started


def time_checks(desktop, options, server, mailboxes, names):
    """Seconds from start to every count, and from each hot key to every new count."""
    run, icon, from_start = start_watching(desktop, options.program, mailboxes, names, server.messages_written)
    rounds = []
    for _ in range(options.rounds):
        server.add_message()
        pressed = time.monotonic()
        desktop.press_keys("ctrl+alt+F5")
        wait_for(lambda: counted(icon.tip(), names, server.messages_written), 60, "the hot key's counts",
                 interval=0.005)
        rounds.append(time.monotonic() - pressed)
    run.stop()
    return from_start, rounds


def side_by_side(desktop, options):
    """(delay, start seconds, hot key seconds) of each mailbox alone, then of the five at once."""
    with DovecotServer(message_count=1) as server:
        delays = [options.delay_ms * (i + 1) / 1000 for i in range(MAILBOXES)]
        links = [DelayedLink(server.port, delay) for delay in delays]
        names = [f"{round(delay * 1000)} ms" for delay in delays]
        mailboxes = [mailbox_keys(link.port, server, name) for link, name in zip(links, names)]
        alone = [(delay, *time_checks(desktop, options, server, [mailbox], [name]))
                 for delay, mailbox, name in zip(delays, mailboxes, names)]
        together = time_checks(desktop, options, server, mailboxes, names)
    return alone, together


def watching_memory(desktop, program):
    """(RSS KiB, threads, connections) of the program watching one mailbox, and five."""
    figures = []
    with DovecotServer(message_count=2, protocol="imap", tls=True) as server:
        no_more_authorities = os.path.join(desktop.folder, "no-more-authorities")
        os.makedirs(no_more_authorities, exist_ok=True)
        env = {"SSL_CERT_FILE": server.ca_file, "SSL_CERT_DIR": no_more_authorities}
        for count in (1, MAILBOXES):
            names = [f"imap {i + 1}" for i in range(count)]
            mailboxes = [mailbox_keys(server.port, server, name, Protocol=1, UseTLS=2) for name in names]
            run, _, _ = start_watching(desktop, program, mailboxes, names, 2, env)
            time.sleep(SETTLE_SECONDS)
            figures.append((memory_kib(run.pid)[0], thread_count(run.pid), connections_to(run.pid, server.port)))
            run.stop()
    return figures


def connections_to(pid, port):
    """The process's established TCP connections to a loopback port (IPv4), from /proc."""
    inodes = set()
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            target = os.readlink(f"/proc/{pid}/fd/{fd}")
        except OSError:
            continue
        if target.startswith("socket:["):
            inodes.add(target[8:-1])
    with open(f"/proc/{pid}/net/tcp") as table:
        rows = [line.split() for line in table.readlines()[1:]]
    return sum(1 for row in rows if int(row[2].split(":")[1], 16) == port and row[3] == "01" and row[9] in inodes)


def report(options, alone, together, memory):
    print(f"several-mailbox benchmark: {MAILBOXES} POP3 mailboxes of one private Dovecot, each answer held "
          f"back by its mailbox's delay; {options.rounds} hot-key checks each (median, ms)")
    print(f"{'':<34}{'from start':>12}{'hot key':>10}")
    for delay, from_start, rounds in alone:
        print(f"{f'alone, {delay * 1000:.0f} ms per answer':<34}{from_start * 1000:>12.0f}"
              f"{statistics.median(rounds) * 1000:>10.0f}")
    print(f"{'all five at once':<34}{together[0] * 1000:>12.0f}{statistics.median(together[1]) * 1000:>10.0f}")
    slowest = max(alone, key=lambda figures: statistics.median(figures[2]))
    slowest_check = statistics.median(slowest[2])
    sum_of_checks = sum(statistics.median(figures[2]) for figures in alone)
    five = statistics.median(together[1])
    print(f"hot key, five at once / slowest alone: {five / slowest_check:.2f}x (side by side: about 1, aim <= 1.2)")
    print(f"hot key, five at once / sum of the five alone: {five / sum_of_checks:.2f}x (one after the other: 1)")
    print(f"from start, five at once / slowest alone: {together[0] / slowest[1]:.2f}x")
    (one_rss, one_threads, one_open), (five_rss, five_threads, five_open) = memory
    print(f"memory watching IMAP mailboxes in IDLE over STARTTLS, {SETTLE_SECONDS} s after every count showed:")
    print(f"{'':<34}{'one':>10}{'five':>10}{'ratio':>8}")
    for label, first, fifth in (("resident memory (KiB)", one_rss, five_rss),
                                ("threads", one_threads, five_threads),
                                ("connections open to the server", one_open, five_open)):
        print(f"{label:<34}{first:>10}{fifth:>10}{fifth / first:>8.2f}")
    print(f"resident memory per further mailbox: {(five_rss - one_rss) / (MAILBOXES - 1):.0f} KiB")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--delay-ms", type=int, default=60, help="the first mailbox's delay; the Nth's is N times it")
    options = parser.parse_args()
    with DesktopSession(tray="sni") as desktop:
        alone, together = side_by_side(desktop, options)
        memory = watching_memory(desktop, options.program)
    report(options, alone, together, memory)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Figures of the Windows build, printed beside the Linux build's in the same run; nothing is asserted.

    wine_figures.py --windows-build DIR --linux-build DIR [--runs N]

- the size of brevgluggen.exe and the DLLs it imports;
- one mailbox check as a whole process (pop3_count against a private Dovecot on loopback): the
  Windows build under a warm Wine beside the Linux build, and the same with the cost of a process
  that only prints its usage taken off, which leaves the check itself. Needs root (Dovecot)."""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "desktop"))

from dovecot_server import DovecotServer  # noqa: E402
from wine_rig import wine_environment  # noqa: E402


def median_seconds(argv, env, runs, exit_code=0):
    """The median time of the runs. Errors go through a file: Wine's service processes, started by
    the first Wine command, would hold a pipe open for ever."""
    times = []
    with tempfile.TemporaryFile() as errors:
        for _ in range(runs):
            errors.seek(0)
            errors.truncate()
            started = time.perf_counter()
            done = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=errors)
            times.append(time.perf_counter() - started)
            if done.returncode != exit_code:
                errors.seek(0)
                raise RuntimeError(f"{argv} ended with {done.returncode}: {errors.read().decode(errors='replace')}")
    return statistics.median(times)


def quietly(argv, env):
    subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=False, timeout=180)


def imported_dlls(exe):
    listing = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe], capture_output=True, text=True).stdout
    return sorted(line.split(":", 1)[1].strip() for line in listing.splitlines() if "DLL Name:" in line)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--linux-build", required=True)
    parser.add_argument("--runs", type=int, default=20)
    options = parser.parse_args()

    exe = os.path.join(options.windows_build, "app", "brevgluggen.exe")
    print(f"brevgluggen.exe: {os.path.getsize(exe)} bytes, imports {', '.join(imported_dlls(exe))}")

    windows_count = os.path.join(options.windows_build, "tests", "windows", "pop3_count.exe")
    linux_count = os.path.join(options.linux_build, "bench", "pop3", "pop3_count")
    # The prefix of the whole-program tests, made here when they have not run.
    work = os.path.abspath(os.path.join(options.windows_build, "tests", "windows", "wine"))
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ, **wine_environment(work, ""))
    del env["DISPLAY"]
    with DovecotServer(message_count=3) as server:
        if not os.path.exists(os.path.join(env["WINEPREFIX"], "system.reg")):
            quietly(["wineboot", "-i"], env)
        quietly(["wineserver", "-p", "60"], env)  # kept warm for the whole run
        check = ["127.0.0.1", str(server.port), server.user, server.password]
        try:
            median_seconds(["wine", windows_count, *check], env, 3)  # the first runs load Wine's files
            wine_check = median_seconds(["wine", windows_count, *check], env, options.runs)
            linux_check = median_seconds([linux_count, *check], env, options.runs)
            # The same programs without arguments print their usage and end: the cost of a process.
            wine_empty = median_seconds(["wine", windows_count], env, options.runs, exit_code=2)
            linux_empty = median_seconds([linux_count], env, options.runs, exit_code=2)
        finally:
            quietly(["wineserver", "-k"], env)
    print(f"one check as a process: Wine {wine_check * 1000:.1f} ms, Linux {linux_check * 1000:.1f} ms, "
          f"ratio {wine_check / linux_check:.1f}")
    wine_own, linux_own = wine_check - wine_empty, linux_check - linux_empty
    print(f"the check itself (empty process taken off): Wine {wine_own * 1000:.1f} ms, "
          f"Linux {linux_own * 1000:.1f} ms, ratio {wine_own / linux_own:.1f}")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Figures of the Windows build, printed beside the Linux build's in the same run; nothing is asserted.

    wine_figures.py --windows-build DIR --linux-build DIR [--runs N]

- the size of brevgluggen.exe and the DLLs it imports, its sections, and what takes the most room
  in it: each library's part, and the program's own code by class or namespace (from the link map
  the build writes beside it, app/brevgluggen.map);
- one mailbox check as a whole process (pop3_count against a private Dovecot on loopback): the
  Windows build under a warm Wine beside the Linux build, and the same with the cost of a process
  that only prints its usage taken off, which leaves the check itself. Needs root (Dovecot)."""

import argparse
import collections
import os
import re
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


SECTION_KINDS = {".text": "code", ".rdata": "read-only data", ".pdata": "unwind tables", ".xdata": "unwind tables",
                 ".idata": "imports", ".data": "data", ".rsrc": "resources", ".reloc": "relocations"}


def section_sizes(exe):
    """Bytes per kind of section in the file (as objdump lists them; uninitialised data takes none)."""
    sizes = collections.Counter()
    listing = subprocess.run(["x86_64-w64-mingw32-objdump", "-h", exe], capture_output=True, text=True).stdout
    for line in listing.splitlines():
        parts = line.split()
        if len(parts) >= 3 and parts[0].isdigit() and parts[1] != ".bss":
            sizes[SECTION_KINDS.get(parts[1], "other")] += int(parts[2], 16)
    return sizes


def map_input_sections(map_file):
    """(section name, size, input file) of every input section the link kept, from a GNU ld map."""
    with open(map_file) as lines:
        text = lines.read()
    text = text[text.find("Linker script and memory map"):]
    # A long section name stands on a line of its own, its address, size and file on the next.
    pattern = re.compile(r"^ (\.[^\s]+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", re.M)
    for name, address, size, source in pattern.findall(re.sub(r"^ (\.\S+)\n\s+0x", r" \1 0x", text, flags=re.M)):
        if int(address, 16) and int(size, 16) and name.split("$")[0] in (".text", ".rdata", ".pdata", ".xdata"):
            yield name, int(size, 16), source


def scope_of(demangled):
    """The class or namespace a demangled symbol belongs to; its own name for a free function."""
    name = demangled.replace("(anonymous namespace)", "{anonymous}")
    depth, head, space, cut = 0, len(name), -1, -1
    for i, c in enumerate(name):
        if c in "<(" and depth == 0 and c == "(":
            head = i
            break
        depth += c in "<("
        depth -= c in ">)"
        if depth == 0 and c == " ":
            space = i  # after a return type
        if depth == 0 and name.startswith("::", i):
            cut = i
    start = space + 1
    scope = name[start:cut] if cut > start else name[start:head]
    if scope.startswith("nlohmann::"):
        return "nlohmann:: (JSON)"
    return re.sub(r"<.*", "<...>", scope)


def contributors(map_file, shown=15):
    """Bytes of code, read-only data and unwind tables per library member or per program scope."""
    sections = list(map_input_sections(map_file))
    mangled = sorted({name.split("$", 1)[1] for name, _, _ in sections if "$" in name})
    demangled = subprocess.run(["x86_64-w64-mingw32-c++filt"], input="\n".join(mangled), capture_output=True,
                               text=True).stdout.splitlines()
    names = dict(zip(mangled, demangled))
    totals = collections.Counter()
    for name, size, source in sections:
        member = re.search(r"([^/(]+\.a)\(([^)]+)\)$", source)
        if member and not member.group(1).startswith("libbg_"):
            totals[f"{member.group(1)}({member.group(2)})"] += size
        elif "$" in name:
            totals[scope_of(names.get(name.split("$", 1)[1], name))] += size
        elif ".ltrans" in source:
            totals["(the program's code without a name of its own)"] += size
        else:
            totals[os.path.basename(source)] += size
    for key, size in totals.most_common(shown):
        print(f"  {size:>8}  {key[:100]}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--linux-build", required=True)
    parser.add_argument("--runs", type=int, default=20)
    options = parser.parse_args()

    exe = os.path.join(options.windows_build, "app", "brevgluggen.exe")
    print(f"brevgluggen.exe: {os.path.getsize(exe)} bytes, imports {', '.join(imported_dlls(exe))}")
    print("  " + ", ".join(f"{kind} {size}" for kind, size in section_sizes(exe).most_common()))
    link_map = os.path.join(options.windows_build, "app", "brevgluggen.map")
    if os.path.exists(link_map):
        print("largest contributors (bytes of code, read-only data and unwind tables):")
        contributors(link_map)

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

#!/usr/bin/python3
"""One mailbox check with Python's poplib for each line read from standard input.

    poplib_check.py PORT USER PASSWORD

Each check is the conversation of the resident program (greeting, CAPA, USER, PASS, STAT, QUIT)
against 127.0.0.1:PORT. For each input line it prints "<microseconds> <count>", timed inside
Python so that the interpreter's start-up is not counted, or "error <text>" when the check fails.
"""

import poplib
import sys
import time


def check(port, user, password):
    session = poplib.POP3("127.0.0.1", port, timeout=5)
    try:
        session.capa()
        session.user(user)
        session.pass_(password)
        count, _size = session.stat()
    except Exception:
        session.close()
        raise
    session.quit()
    return count


def main():
    port, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    for _request in sys.stdin:
        start = time.perf_counter_ns()
        try:
            count = check(port, user, password)
        except Exception as error:  # reported to the caller, which stops
            print("error", str(error).replace("\n", " "), flush=True)
            continue
        elapsed_us = (time.perf_counter_ns() - start) / 1000
        print(f"{elapsed_us:.1f} {count}", flush=True)


if __name__ == "__main__":
    main()

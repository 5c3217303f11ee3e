"""Common ground of the desktop test scripts: the command line and a test case base that gives each test
its own desktop session and dumps the session's logs (shown by CTest only when the test fails)."""

import argparse
import os
import signal
import sys
import unittest

from desktop_rig import DesktopSession, wait_for

PATHS = {}  # "program" and "floor", from the command line


def program_path():
    return PATHS["program"]


def floor_path():
    return PATHS["floor"]


class DesktopTestCase(unittest.TestCase):
    def desktop(self, tray="sni", sound=False):
        session = DesktopSession(tray=tray, sound=sound)
        session.start()
        self.addCleanup(self._close_session, session)
        return session

    def _close_session(self, session):
        try:
            names = sorted(os.listdir(session.logs)) if os.path.isdir(session.logs) else []
            for name in names:
                if name.endswith(".log") and os.path.getsize(os.path.join(session.logs, name)):
                    print(f"--- {name}\n{session.log_text(name[:-4])}", file=sys.stderr)
        finally:
            session.stop()

    def assertStaysTrue(self, condition, seconds, message):
        """Fails as soon as condition() turns false within the given time."""
        try:
            wait_for(lambda: not condition(), seconds, "a change")
        except TimeoutError:
            return
        self.fail(message)


def main():
    """desktop test script [--program PATH] [--floor PATH] [unittest arguments]"""
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--program")
    parser.add_argument("--floor")
    known, rest = parser.parse_known_args()
    PATHS.update({k: v for k, v in vars(known).items() if v})
    # CTest ends a test that runs too long with a signal: leave through the clean-up path.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)

"""A private Dovecot POP3 or IMAP server for the whole-program tests: its own configuration, passwd-file user
and maildir under a temporary folder, listening on a free loopback port, started in a process group
of its own and killed as a group at the end. Nothing system-wide is touched and port 110 is never used.

    with DovecotServer(message_count=3) as server:
        server.port, server.user, server.password
        server.add_message()
        server.stop()            # the port refuses connections from then on

    with DovecotServer(message_count=3, protocol="imap") as server:
        server.kick()            # ends every open session (IMAP: a watching program's too)

    with DovecotServer(message_count=3, tls=True) as server:
        server.address, server.ca_file   # STLS on server.port, plain login refused

With tls=True the server listens on 127.0.0.2, where a plain login is refused (on 127.0.0.1 Dovecot
counts the connection as secure), offers STLS with a certificate for that address from a test CA
made for it, and server.ca_file is that CA's certificate for the client to trust.

Dovecot must start as root (it drops to its own users); without root or without the package the
test is skipped.
"""

import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

from desktop_rig import die_with_parent, wait_for
from pop3_stub import closed_loopback_port

DOVECOT = "/usr/sbin/dovecot"
START_ATTEMPTS = 3
# The mailbox belongs to "nobody": Dovecot refuses to open mail as root.
MAIL_UID = MAIL_GID = 65534

CONFIG = """instance_name = bg-desktop-dovecot-{port}
base_dir = {folder}/run
state_dir = {folder}/state
log_path = {folder}/dovecot.log
info_log_path = {folder}/dovecot.log
protocols = {protocol}
listen = {address}
{tls_settings}auth_failure_delay = 0
mail_location = maildir:~/Maildir
passdb {{
  driver = passwd-file
  args = {folder}/passwd
}}
userdb {{
  driver = passwd-file
  args = {folder}/passwd
}}
service {protocol}-login {{
  inet_listener {protocol} {{
    address = {address}
    port = {port}
  }}
}}
"""


PLAIN_SETTINGS = "disable_plaintext_auth = no\nssl = no\n"
TLS_SETTINGS = """disable_plaintext_auth = yes
ssl = required
ssl_cert = <{folder}/server-chain.pem
ssl_key = <{folder}/server.key
"""
NEW_KEY = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]


def make_certificates(folder, address):
    """A throw-away CA (ca.pem) and a server certificate for the address signed by it, with the chain
    file Dovecot reads (server-chain.pem, server.key)."""
    def openssl(*args):
        subprocess.run(["openssl", "req", "-x509", *NEW_KEY, "-days", "30", *args], cwd=folder, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    openssl("-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=test CA",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("-keyout", "server.key", "-out", "server.pem", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-subj", f"/CN={address}", "-addext", "basicConstraints=CA:FALSE",
            "-addext", f"subjectAltName=IP:{address}", "-addext", "extendedKeyUsage=serverAuth")
    with open(os.path.join(folder, "server-chain.pem"), "w") as chain:
        for name in ("server.pem", "ca.pem"):
            with open(os.path.join(folder, name)) as part:
                chain.write(part.read())


GREETINGS = {"pop3": b"+OK", "imap": b"* OK"}


def greets(port, timeout=1.0, address="127.0.0.1", protocol="pop3"):
    """True when a connection to the port is answered with the protocol's greeting ("+OK", "* OK")."""
    try:
        with socket.create_connection((address, port), timeout=timeout) as connection:
            return connection.makefile("rb").readline().startswith(GREETINGS[protocol])
    except OSError:
        return False


def accepts_connections(port, address="127.0.0.1"):
    try:
        socket.create_connection((address, port), timeout=1.0).close()
        return True
    except OSError:
        return False


class DovecotServer:
    def __init__(self, message_count=0, user="anna", password="hemligt", tls=False, protocol="pop3",
                 extra_settings=""):
        if os.geteuid() != 0 or not os.access(DOVECOT, os.X_OK):
            raise unittest.SkipTest(f"a private Dovecot needs root and the dovecot-{protocol}d package")
        self.user, self.password = user, password
        self.protocol = protocol
        self.tls = tls
        self.address = "127.0.0.2" if tls else "127.0.0.1"
        self.initial_count = message_count
        self.messages_written = 0
        self.process = None
        self.port = None
        self.folder = tempfile.mkdtemp(prefix="bg-dovecot-")
        # Dovecot's own users must reach the home folder and the run folders below this one.
        os.chmod(self.folder, 0o755)
        self.maildir = os.path.join(self.folder, "home", "Maildir")
        self.ca_file = os.path.join(self.folder, "ca.pem")
        self.extra_settings = extra_settings  # lines added to the configuration

    def __enter__(self):
        try:
            self._make_mailbox()
            if self.tls:
                make_certificates(self.folder, self.address)
            self.start()
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()
        shutil.rmtree(self.folder, ignore_errors=True)

    # -- the mailbox -----------------------------------------------------------------------------

    def _make_mailbox(self):
        for sub in ("new", "cur", "tmp"):
            os.makedirs(os.path.join(self.maildir, sub))
        for path in (os.path.dirname(self.maildir), self.maildir,
                     *(os.path.join(self.maildir, sub) for sub in ("new", "cur", "tmp"))):
            os.chown(path, MAIL_UID, MAIL_GID)
        for _ in range(self.initial_count):
            self.add_message()

    def add_message(self, sender="sender@bg.test", subject=None):
        """Delivers one more message (From and Subject as given, header-encoded or not): written in
        tmp/ and moved to new/, so that the running server never sees half a message."""
        self.messages_written += 1
        number = self.messages_written
        subject = subject or f"Message {number}"
        name = f"{number}.{os.getpid()}.bg.test"
        draft = os.path.join(self.maildir, "tmp", name)
        with open(draft, "w", newline="") as message:
            message.write(f"From: {sender}\r\nTo: {self.user}@bg.test\r\nSubject: {subject}\r\n"
                          f"\r\nBody of message {number}.\r\n")
        os.chown(draft, MAIL_UID, MAIL_GID)
        os.rename(draft, os.path.join(self.maildir, "new", name))

    # -- the server ------------------------------------------------------------------------------

    def start(self):
        with open(os.path.join(self.folder, "passwd"), "w") as passwd:
            home = os.path.dirname(self.maildir)
            passwd.write(f"{self.user}:{{PLAIN}}{self.password}:{MAIL_UID}:{MAIL_GID}::{home}::\n")
        for _ in range(START_ATTEMPTS):
            # A free port may be taken by someone else before Dovecot binds it: try another.
            self.port = closed_loopback_port()
            if self._launch():
                return
            self.stop()
        raise RuntimeError("Dovecot did not start: " + self.output())

    def _launch(self):
        config = os.path.join(self.folder, "dovecot.conf")
        with open(config, "w") as conf:
            settings = TLS_SETTINGS.format(folder=self.folder) if self.tls else PLAIN_SETTINGS
            conf.write(CONFIG.format(folder=self.folder, port=self.port, address=self.address,
                                     tls_settings=settings, protocol=self.protocol) + self.extra_settings)
        with open(os.path.join(self.folder, "server.out"), "ab") as log:
            self.process = subprocess.Popen(
                [DOVECOT, "-F", "-c", config], stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                cwd=self.folder, start_new_session=True, preexec_fn=die_with_parent)
        try:
            wait_for(lambda: self.process.poll() is not None
                     or greets(self.port, address=self.address, protocol=self.protocol), 10,
                     "Dovecot's greeting",
                     interval=0.02)
        except TimeoutError:
            return False
        return self.process.poll() is None

    def kick(self):
        """Ends every session of the user at once, as a server restart would."""
        subprocess.run(["doveadm", "-c", os.path.join(self.folder, "dovecot.conf"), "kick", self.user],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        """Kills the whole server (master and login processes) at once; the port refuses from then on."""
        if self.process is None:
            return
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.process.wait()
        self.process = None
        # The login processes share the listening socket and die a moment after the master.
        deadline = time.monotonic() + 3
        while accepts_connections(self.port, self.address) and time.monotonic() < deadline:
            time.sleep(0.01)

    def session_ends(self):
        """What each finished session did, in Dovecot's words ("top=2/..., retr=0/0, ..."), oldest first."""
        path = os.path.join(self.folder, "dovecot.log")
        if not os.path.exists(path):
            return []
        with open(path, "rb") as log:
            lines = log.read().decode("utf-8", "replace").splitlines()
        return [line.split("Logged out ", 1)[1] for line in lines if "Logged out " in line]

    def output(self):
        text = ""
        for name in ("server.out", "dovecot.log"):
            path = os.path.join(self.folder, name)
            if os.path.exists(path):
                with open(path, "rb") as log:
                    text += log.read().decode("utf-8", "replace")
        return text

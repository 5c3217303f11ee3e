"""A private GNU mailutils POP3 server (pop3d) for the whole-program tests, a second real server beside
Dovecot: the same kind of maildir and the same calls as DovecotServer (port, user, password,
add_message, stop), with a configuration of its own that loads no site file, a virtual-domain user
(logins are "user@domain") and a free loopback port; killed as a process group at the end.

    with MailutilsPop3Server(message_count=2) as server:
        server.port, server.user, server.password     # "u@bg.test", "secret"
        server.add_message()

Like Dovecot it must start as root; without root or without the package the test is skipped.
"""

import os
import subprocess
import unittest

from desktop_rig import die_with_parent, wait_for
from dovecot_server import MAIL_GID, MAIL_UID, DovecotServer, greets

POP3D = "/usr/sbin/pop3d"
DOMAIN = "bg.test"
# MD5-crypt hash of "secret", as the virtual-domain passwd file holds passwords.
SECRET_CRYPT_HASH = "$1$bgsalt$I3QfELQ8ztaZe7bsaymrJ1"

CONFIG = """mode daemon;
foreground true;
pidfile "{folder}/pop3d.pid";
logging {{ syslog false; }};
virtdomain {{ passwd-dir "{folder}/domains"; }};
auth {{ authorization virtdomain; authentication generic; }};
mailbox {{ mailbox-pattern "maildir://{maildir}"; }};
mandatory-locking {{ enable false; }};
server 127.0.0.1:{port} {{ single-process false; }};
"""


class MailutilsPop3Server(DovecotServer):
    """The maildir and its messages are DovecotServer's; only the server that serves them differs."""

    def __init__(self, message_count=0):
        if os.geteuid() != 0 or not os.access(POP3D, os.X_OK):
            raise unittest.SkipTest("a private mailutils pop3d needs root and the mailutils-pop3d package")
        super().__init__(message_count, user=f"u@{DOMAIN}", password="secret")
        # pop3d opens the user's INBOX under the home folder whatever the pattern says: the maildir is that.
        self.maildir = os.path.join(os.path.dirname(self.maildir), "INBOX")

    def _launch(self):
        domains = os.path.join(self.folder, "domains")
        os.makedirs(domains, exist_ok=True)
        home = os.path.dirname(self.maildir)
        with open(os.path.join(domains, DOMAIN), "w") as passwd:
            passwd.write(f"u:{SECRET_CRYPT_HASH}:{MAIL_UID}:{MAIL_GID}:test user:{home}:/bin/false\n")
        config = os.path.join(self.folder, "pop3d.conf")
        with open(config, "w") as conf:
            conf.write(CONFIG.format(folder=self.folder, maildir=self.maildir, port=self.port))
        with open(os.path.join(self.folder, "server.out"), "ab") as log:
            self.process = subprocess.Popen(
                [POP3D, f"--config-file={config}"], stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                cwd=self.folder, start_new_session=True, preexec_fn=die_with_parent)
        try:
            wait_for(lambda: self.process.poll() is not None or greets(self.port), 10, "pop3d's greeting",
                     interval=0.02)
        except TimeoutError:
            return False
        return self.process.poll() is None

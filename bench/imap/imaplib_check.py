#!/usr/bin/env python3
"""One unseen count with Python's imaplib, for the whole-process figures of the IMAP benchmark.

    imaplib_check.py PORT USER PASSWORD [CAFILE]

With CAFILE the connection is TLS from the first byte, checked against that authority.
Prints the number of unseen messages in INBOX.
"""
import imaplib
import ssl
import sys

port, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3]
if len(sys.argv) > 4:
    imap = imaplib.IMAP4_SSL("127.0.0.1", port, ssl_context=ssl.create_default_context(cafile=sys.argv[4]))
else:
    imap = imaplib.IMAP4("127.0.0.1", port)
imap.login(user, password)
_, data = imap.status("INBOX", "(UNSEEN)")
imap.logout()
print(data[0].decode().split("UNSEEN ")[1].rstrip(")"))

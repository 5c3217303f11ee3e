"""A POP3 server on loopback for the whole-program tests: it answers a check's dialogue (greeting,
CAPA, USER, PASS, STAT, QUIT) with a mailbox of a set size and counts the sessions it served, so a test
can tell whether, and how often, a program checked."""

import socket
import socketserver
import threading


class _Session(socketserver.StreamRequestHandler):
    def handle(self):
        try:
            self.converse(self.server.stub)
        finally:
            self.server.stub.note_session()  # counted when over, so its count is the one it served

    def converse(self, stub):
        self.say("+OK stub ready")
        for raw in self.rfile:
            command = raw.decode("ascii", "replace").strip().split(" ")[0].upper()
            if command == "CAPA":
                self.say("+OK capabilities follow\r\nUSER\r\n.")
            elif command == "USER":
                self.say("+OK")
            elif command == "PASS":
                self.say("-ERR [AUTH] invalid password" if stub.refuse_login else "+OK")
            elif command == "STAT":
                self.say(f"+OK {stub.message_count} {stub.message_count * 1000}")
            elif command == "QUIT":
                self.say("+OK bye")
                return
            else:
                self.say("-ERR unknown command")

    def say(self, text):
        self.wfile.write(text.encode("ascii") + b"\r\n")


class _Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


class Pop3Stub:
    """with Pop3Stub(message_count=3) as stub: ... stub.port ... stub.sessions (those that ended).
    Set refuse_login to answer the password with an error."""

    def __init__(self, message_count=0):
        self.message_count = message_count
        self.refuse_login = False
        self.sessions = 0
        self._lock = threading.Lock()
        self._server = _Server(("127.0.0.1", 0), _Session)
        self._server.stub = self
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._server.shutdown()
        self._server.server_close()

    def note_session(self):
        with self._lock:
            self.sessions += 1


def closed_loopback_port():
    """A loopback port on which nothing listens, so a connect is refused at once."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]

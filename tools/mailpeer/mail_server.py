#!/usr/bin/env python3
"""Test-only mail server of the device service, for the mail clients' tests and benchmarks.

Speaks the service's POP3 dialogue (USER, an empty PASS, STAT, LIST, RETR, DELE, ERAS, QUIT)
and its SMTP-style dialogue (an opening "220" line, one answer per line, the empty line after
each message included; TURN reverses the roles and delivers the user's mail) on two ports of
127.0.0.1. Mail lives under <root>/mailboxes/<mailbox>/, one RFC 5322 file per message, taken
in name order; POP3 users and TURN read the mailbox named by the user id, SMTP delivers to a
mailbox named by each recipient address. Every line in and out goes to <root>/log.txt.

Fault switches: <root>/faults, read at every new connection, one switch per line:
  refuse-login      POP3 answers PASS with -ERR; SMTP opens with "554" instead of "220"
  refuse-rcpt N     SMTP refuses the N-th recipient of the connection (1-based)
  eras-err          POP3 answers ERAS with -ERR
  refuse-dele       POP3 answers DELE with -ERR (the message stays)
  no-content-type   messages are served (RETR, TURN) without the Content-Type lines of their
                    header section
  close-retr [N]    POP3 closes the connection halfway through the text of the N-th RETR of the
                    connection (default: the first)
  close-data [N]    SMTP closes halfway through the N-th DATA it receives, or the N-th letter it
                    delivers after TURN (default: the first)
  close-verdict [N] after TURN, SMTP closes once the N-th letter is delivered, before reading
                    the answer to it (default: the first): the letter stays
  reoffer N         after TURN, a letter answered with anything but "250" is delivered again,
                    up to N more times
  repeat N          after TURN, every letter is delivered N more times, whatever the answer
  silent            read everything, answer nothing
  pieces N          send every answer in pieces of N bytes
  long-line         the POP3 greeting and the SMTP opening line are over 255 bytes long

Usage: mail_server.py <root> <port file> [--lifetime seconds]
The port file receives "<pop3 port> <smtp port>" once both listen.
"""
import os
import socket
import socketserver
import sys
import threading
import time

IDLE_SECONDS = 60          # a connection silent this long is closed
LINE_LIMIT = 1 << 20       # a longer line ends the connection
MESSAGE_LIMIT = 64 << 20   # a longer DATA ends the connection
DOMAIN = "zelvan.net"

log_lock = threading.Lock()
store_lock = threading.Lock()


class Config:
    def __init__(self, root):
        self.root = root
        self.faults = {}
        path = os.path.join(root, "faults")
        if os.path.exists(path):
            with open(path) as f:
                for line in f:
                    parts = line.split()
                    if parts:
                        self.faults[parts[0]] = parts[1] if len(parts) > 1 else ""

    def has(self, name):
        return name in self.faults

    def number(self, name, default=0):
        try:
            return int(self.faults.get(name, default))
        except ValueError:
            return default


def log(root, direction, line):
    with log_lock:
        with open(os.path.join(root, "log.txt"), "ab") as f:
            f.write(direction + b" " + line + b"\n")


def mailbox_path(root, name):
    safe = "".join(c if (c.isalnum() or c in "@._-+") else "_" for c in name) or "_"
    return os.path.join(root, "mailboxes", safe)


def mailbox_files(root, name):
    folder = mailbox_path(root, name)
    if not os.path.isdir(folder):
        return []
    return sorted(os.path.join(folder, n) for n in os.listdir(folder)
                  if os.path.isfile(os.path.join(folder, n)))


def wire_text(data):
    """A stored message as CR LF lines, dot-stuffed, without the final terminator."""
    lines = data.replace(b"\r\n", b"\n").split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return b"".join((b"." + l if l.startswith(b".") else l) + b"\r\n" for l in lines)


def without_content_type(data):
    """The message without the Content-Type lines (and their continuations) of its header section."""
    lines = data.replace(b"\r\n", b"\n").split(b"\n")
    out = []
    in_headers = True
    dropping = False
    for line in lines:
        if in_headers:
            if line == b"":
                in_headers = False
            elif line[:1] in (b" ", b"\t"):
                if dropping:
                    continue
            else:
                dropping = line.lower().startswith(b"content-type:")
                if dropping:
                    continue
        out.append(line)
    return b"\r\n".join(out)


def served(path, config):
    """A stored message as the server hands it out, the fault switches applied."""
    with open(path, "rb") as f:
        data = f.read()
    if config.has("no-content-type"):
        data = without_content_type(data)
    return data


def message_size(data):
    """The size LIST and STAT report: the message in CR LF lines, before dot-stuffing."""
    lines = data.replace(b"\r\n", b"\n").split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return sum(len(l) + 2 for l in lines)


def store(root, mailbox, data):
    folder = mailbox_path(root, mailbox)
    with store_lock:
        os.makedirs(folder, exist_ok=True)
        n = len(os.listdir(folder)) + 1
        while os.path.exists(os.path.join(folder, "%06d.eml" % n)):
            n += 1
        with open(os.path.join(folder, "%06d.eml" % n), "wb") as f:
            f.write(data)


class Closed(Exception):
    pass


class Session(socketserver.BaseRequestHandler):
    def setup(self):
        self.config = Config(self.server.root)
        self.request.settimeout(IDLE_SECONDS)
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buffer = b""

    def send(self, line):
        log(self.server.root, b"S:", line)
        if self.config.has("silent"):
            return
        data = line + b"\r\n"
        self.send_raw(data)

    def send_raw(self, data):
        piece = self.config.number("pieces")
        if piece > 0:
            for i in range(0, len(data), piece):
                self.request.sendall(data[i:i + piece])
                time.sleep(0.001)
        else:
            self.request.sendall(data)

    def read_line(self):
        while b"\r\n" not in self.buffer:
            if len(self.buffer) > LINE_LIMIT:
                raise Closed()
            try:
                chunk = self.request.recv(65536)
            except (socket.timeout, OSError):
                raise Closed()
            if not chunk:
                raise Closed()
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        log(self.server.root, b"C:", line)
        return line

    def handle(self):
        try:
            self.converse()
        except (Closed, ConnectionError, socket.timeout, OSError):
            pass


class Pop3Session(Session):
    def converse(self):
        root = self.server.root
        greeting = b"+OK test mail server ready"
        if self.config.has("long-line"):
            greeting += b" " + b"x" * 300
        self.send(greeting)
        user = None
        files = []
        gone = {}
        retrievals = 0
        while True:
            line = self.read_line()
            verb, _, arg = line.partition(b" ")
            verb = verb.upper()
            if verb == b"USER":
                user = arg.decode("latin-1")
                files = mailbox_files(root, user)
                self.send(b"+OK user accepted")
            elif verb == b"PASS":
                self.send(b"-ERR login refused" if self.config.has("refuse-login") else b"+OK logged in")
            elif verb == b"STAT":
                live = [f for i, f in enumerate(files) if i + 1 not in gone]
                size = sum(message_size(served(f, self.config)) for f in live)
                self.send(b"+OK %d %d" % (len(live), size))
            elif verb == b"LIST":
                if arg:
                    n = self.number(arg, files, gone)
                    if n is None:
                        self.send(b"-ERR no such message")
                    else:
                        self.send(b"+OK %d %d" % (n, message_size(served(files[n - 1], self.config))))
                else:
                    self.send(b"+OK scan listing follows")
                    for i, f in enumerate(files):
                        if i + 1 not in gone:
                            self.send(b"%d %d" % (i + 1, message_size(served(f, self.config))))
                    self.send(b".")
            elif verb == b"RETR":
                n = self.number(arg, files, gone)
                if n is None:
                    self.send(b"-ERR no such message")
                    continue
                text = wire_text(served(files[n - 1], self.config))
                self.send(b"+OK message follows")
                retrievals += 1
                if self.config.has("close-retr") and retrievals == self.config.number("close-retr", 1):
                    self.send_raw(text[:len(text) // 2])
                    log(root, b"S:", b"<closed during RETR>")
                    return
                log(root, b"S:", b"<%d bytes of message %d>" % (len(text), n))
                self.send_raw(text + b".\r\n")
            elif verb in (b"DELE", b"ERAS"):
                n = self.number(arg.split(b" ")[0], files, gone)
                if n is None:
                    self.send(b"-ERR no such message")
                elif verb == b"ERAS" and self.config.has("eras-err"):
                    self.send(b"-ERR cannot decline")
                elif verb == b"DELE" and self.config.has("refuse-dele"):
                    self.send(b"-ERR cannot delete")
                else:
                    gone[n] = verb
                    self.send(b"+OK marked")
            elif verb == b"NOOP":
                self.send(b"+OK")
            elif verb == b"QUIT":
                for n, how in gone.items():
                    path = files[n - 1]
                    if how == b"ERAS":
                        declined = os.path.join(os.path.dirname(path), "declined")
                        os.makedirs(declined, exist_ok=True)
                        os.replace(path, os.path.join(declined, os.path.basename(path)))
                    elif os.path.exists(path):
                        os.remove(path)
                self.send(b"+OK bye")
                return
            else:
                self.send(b"-ERR unknown command")

    @staticmethod
    def number(arg, files, gone):
        try:
            n = int(arg)
        except ValueError:
            return None
        if n < 1 or n > len(files) or n in gone:
            return None
        return n


class SmtpSession(Session):
    def converse(self):
        if self.config.has("refuse-login"):
            self.send(b"554 service refused")
        else:
            opening = b"220 test mail server ready"
            if self.config.has("long-line"):
                opening += b" " + b"x" * 300
            self.send(opening)
        user = ""
        sender = None
        recipients = []
        rcpt_count = 0
        self.data_count = 0
        while True:
            line = self.read_line()
            verb = line.split(b" ")[0].split(b":")[0].upper()
            if verb == b"HELO":
                user = line[5:].decode("latin-1").strip()
                self.send(b"250 hello " + user.encode("latin-1"))
            elif verb == b"MAIL":
                sender = line
                recipients = []
                self.send(b"250 sender ok")
            elif verb == b"RSET":
                sender = None
                recipients = []
                self.send(b"250 reset")
            elif verb == b"RCPT":
                rcpt_count += 1
                address = line[line.find(b"<") + 1:line.rfind(b">")].decode("latin-1")
                if rcpt_count == self.config.number("refuse-rcpt"):
                    self.send(b"550 recipient refused")
                else:
                    recipients.append(address)
                    self.send(b"250 recipient ok")
            elif verb == b"DATA":
                self.data_count += 1
                self.send(b"354 end with <CRLF>.<CRLF>")
                data = self.read_data()
                if data is None:
                    return
                for r in recipients:
                    store(self.server.root, r, data)
                self.send(b"250 message accepted")
            elif verb == b"TURN":
                self.send(b"250 turning")
                self.deliver(user)
                return
            elif verb == b"QUIT":
                self.send(b"221 bye")
                return
            elif line == b"":
                self.send(b"250 ok")
            else:
                self.send(b"500 unknown command")

    def read_data(self):
        lines = []
        size = 0
        while True:
            line = self.read_line()
            if line == b".":
                return b"".join(l + b"\r\n" for l in lines)
            if self.closes_at(self.data_count) and lines:
                log(self.server.root, b"S:", b"<closed during DATA>")
                return None
            lines.append(line[1:] if line.startswith(b".") else line)
            size += len(line)
            if size > MESSAGE_LIMIT:
                return None

    def closes_at(self, count):
        return self.config.has("close-data") and count == self.config.number("close-data", 1)

    def deliver(self, user):
        root = self.server.root
        delivered = 0
        repeat = self.config.number("repeat")
        for path in mailbox_files(root, user):
            data = served(path, self.config)
            for _ in range(1 + max(repeat, self.config.number("reoffer"))):
                delivered += 1
                verdict = self.deliver_one(path, data, user, delivered)
                if verdict is None:
                    return
                if verdict.startswith(b"250"):
                    if os.path.exists(path):
                        os.remove(path)
                    if not repeat:
                        break
        self.send(b"QUIT")
        try:
            self.read_line()
            self.send(b"221 bye")
        except Closed:
            pass

    def deliver_one(self, path, data, user, delivered):
        """Delivers one stored message; the answer to it, or None when the connection is to end."""
        root = self.server.root
        sender = b"postmaster@" + DOMAIN.encode()
        for header in data.replace(b"\r\n", b"\n").split(b"\n"):
            if header == b"":
                break
            if header.lower().startswith(b"from:") and b"<" in header and b">" in header:
                sender = header[header.find(b"<") + 1:header.find(b">")]
        self.send(b"MAIL FROM:<" + sender + b">")
        self.read_line()
        self.send(b"RCPT TO:<" + user.encode("latin-1") + b"@" + DOMAIN.encode() + b">")
        self.read_line()
        self.send(b"DATA")
        self.read_line()
        text = wire_text(data)
        if self.closes_at(delivered):
            self.send_raw(text[:len(text) // 2])
            log(root, b"S:", b"<closed during DATA>")
            return None
        log(root, b"S:", b"<%d bytes of %s>" % (len(text), os.path.basename(path).encode()))
        self.send_raw(text + b".\r\n")
        if self.config.has("close-verdict") and delivered == self.config.number("close-verdict", 1):
            log(root, b"S:", b"<closed before the verdict>")
            return None
        return self.read_line()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, root, handler):
        super().__init__(("127.0.0.1", 0), handler)
        self.root = root


def main():
    root = sys.argv[1]
    port_file = sys.argv[2]
    lifetime = 3600
    if len(sys.argv) > 4 and sys.argv[3] == "--lifetime":
        lifetime = float(sys.argv[4])
    os.makedirs(os.path.join(root, "mailboxes"), exist_ok=True)
    pop3 = Server(root, Pop3Session)
    smtp = Server(root, SmtpSession)
    for s in (pop3, smtp):
        threading.Thread(target=s.serve_forever, daemon=True).start()
    with open(port_file + ".tmp", "w") as f:
        f.write("%d %d\n" % (pop3.server_address[1], smtp.server_address[1]))
    os.replace(port_file + ".tmp", port_file)
    time.sleep(lifetime)  # the test script stops the server long before


if __name__ == "__main__":
    main()

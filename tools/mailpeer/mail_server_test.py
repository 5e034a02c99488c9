#!/usr/bin/env python3
"""The test mail server where its dialogue is the standard one, checked with Python's poplib and
smtplib: messages served by RETR (dot-stuffed on the wire) come back whole, letters sent with
DATA are stored unstuffed, DELE takes only the marked message, and the fault switches bite."""
import os
import poplib
import shutil
import smtplib
import subprocess
import sys
import tempfile
import time
import unittest

SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mail_server.py")

MESSAGES = [
    b"From: A <a@example.org>\r\nSubject: dots\r\n\r\n.leading dot\r\n..two dots\r\n.\r\nend\r\n",
    b"Subject: long\r\n\r\n" + b"x" * 1000 + b"\r\nshort\r\n",
    b"Subject: plain\r\n\r\nbody\r\n",
]


class MailServerWithPythonClients(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp()
        cls.root = os.path.join(cls.work, "root")
        ports = os.path.join(cls.work, "ports")
        cls.server = subprocess.Popen([sys.executable, SERVER, cls.root, ports, "--lifetime", "300"],
                                      stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while not os.path.exists(ports):
            if time.monotonic() > deadline:
                raise RuntimeError("the test mail server did not start")
            time.sleep(0.05)
        cls.pop3, cls.smtp = map(int, open(ports).read().split())

    @classmethod
    def tearDownClass(cls):
        cls.server.kill()
        cls.server.wait()
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.faults("")

    def faults(self, text):
        with open(os.path.join(self.root, "faults"), "w") as f:
            f.write(text)

    def fill(self, mailbox, messages):
        folder = os.path.join(self.root, "mailboxes", mailbox)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for i, data in enumerate(messages):
            with open(os.path.join(folder, "%06d.eml" % (i + 1)), "wb") as f:
                f.write(data)
        return folder

    def test_poplib_retrieves_whole_messages_and_deletes_only_what_it_marked(self):
        folder = self.fill("PYUSER1", MESSAGES)
        client = poplib.POP3("127.0.0.1", self.pop3, timeout=20)
        client.user("PYUSER1")
        client.pass_("")
        count, size = client.stat()
        self.assertEqual(count, 3)
        for n, data in enumerate(MESSAGES, 1):
            _, lines, octets = client.retr(n)
            self.assertEqual(b"\r\n".join(lines) + b"\r\n", data)
            self.assertEqual(int(client.list(n).split()[2]), octets)
        client.dele(2)
        client.quit()
        self.assertEqual(sorted(os.listdir(folder)), ["000001.eml", "000003.eml"])

    def test_smtplib_letters_are_stored_unstuffed_for_each_recipient(self):
        for box in ("one@example.org", "two@example.org"):
            shutil.rmtree(os.path.join(self.root, "mailboxes", box), ignore_errors=True)
        with smtplib.SMTP("127.0.0.1", self.smtp, timeout=20) as client:
            client.helo("PYUSER2")
            client.sendmail("PYUSER2@zelvan.net", ["one@example.org", "two@example.org"], MESSAGES[0])
        for box in ("one@example.org", "two@example.org"):
            folder = os.path.join(self.root, "mailboxes", box)
            stored = []
            for name in os.listdir(folder):
                with open(os.path.join(folder, name), "rb") as f:
                    stored.append(f.read())
            self.assertEqual(stored, [MESSAGES[0]])

    def test_fault_switches(self):
        self.fill("PYUSER3", MESSAGES[:1])
        self.faults("refuse-login\n")
        client = poplib.POP3("127.0.0.1", self.pop3, timeout=20)
        client.user("PYUSER3")
        with self.assertRaises(poplib.error_proto):
            client.pass_("")
        client.close()
        self.faults("refuse-rcpt 2\n")
        with smtplib.SMTP("127.0.0.1", self.smtp, timeout=20) as client:
            client.helo("PYUSER3")
            refused = client.sendmail("PYUSER3@zelvan.net", ["ok@example.org", "no@example.org"], b"x\r\n")
            self.assertEqual(list(refused), ["no@example.org"])
        # RSET forgets the letter begun: its accepted recipient gets nothing from the next DATA.
        self.faults("")
        for box in ("kept@example.org", "after@example.org"):
            shutil.rmtree(os.path.join(self.root, "mailboxes", box), ignore_errors=True)
        with smtplib.SMTP("127.0.0.1", self.smtp, timeout=20) as client:
            client.helo("PYUSER3")
            client.mail("PYUSER3@zelvan.net")
            client.rcpt("kept@example.org")
            self.assertEqual(client.rset()[0], 250)
            client.sendmail("PYUSER3@zelvan.net", ["after@example.org"], b"y\r\n")
        self.assertFalse(os.path.exists(os.path.join(self.root, "mailboxes", "kept@example.org")))
        self.assertEqual(len(os.listdir(os.path.join(self.root, "mailboxes", "after@example.org"))), 1)
        self.faults("pieces 5\nlong-line\n")
        client = poplib.POP3("127.0.0.1", self.pop3, timeout=20)
        self.assertGreater(len(client.getwelcome()), 255)
        client.user("PYUSER3")
        client.pass_("")
        self.assertEqual(b"\r\n".join(client.retr(1)[1]) + b"\r\n", MESSAGES[0])
        client.quit()
        self.faults("close-retr\n")
        client = poplib.POP3("127.0.0.1", self.pop3, timeout=20)
        client.user("PYUSER3")
        client.pass_("")
        with self.assertRaises((poplib.error_proto, EOFError, OSError)):
            client.retr(1)
        client.close()
        self.assertEqual(len(os.listdir(os.path.join(self.root, "mailboxes", "PYUSER3"))), 1)

    def test_refused_dele_keeps_the_message_and_the_served_letter_can_lose_its_content_type(self):
        letter = (b"Subject: qp\r\nMIME-Version: 1.0\r\nContent-Type: text/plain;\r\n\tcharset=us-ascii\r\n"
                  b"Content-Transfer-Encoding: quoted-printable\r\n\r\nsoft=\r\nbreak\r\n")
        folder = self.fill("PYUSER4", [letter, MESSAGES[2]])
        self.faults("refuse-dele\nno-content-type\nclose-retr 2\n")
        client = poplib.POP3("127.0.0.1", self.pop3, timeout=20)
        client.user("PYUSER4")
        client.pass_("")
        _, lines, octets = client.retr(1)
        served = b"\r\n".join(lines) + b"\r\n"
        self.assertEqual(served, b"Subject: qp\r\nMIME-Version: 1.0\r\n"
                                 b"Content-Transfer-Encoding: quoted-printable\r\n\r\nsoft=\r\nbreak\r\n")
        self.assertEqual(int(client.list(1).split()[2]), octets)
        with self.assertRaises(poplib.error_proto):
            client.dele(1)
        with self.assertRaises((poplib.error_proto, EOFError, OSError)):
            client.retr(2)
        client.close()
        self.assertEqual(len(os.listdir(folder)), 2)


if __name__ == "__main__":
    unittest.main()

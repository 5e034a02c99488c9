#!/usr/bin/env python3
"""Our MIME builder and parser against Python's email package, both ways.
Usage: mime_python_test.py <mime_tool>"""
import email
import email.policy
import os
import subprocess
import sys
import tempfile
import unittest
from email.message import EmailMessage

TOOL = None


def norm(text):
    return text.replace("\r\n", "\n").rstrip("\n")


class OursToPython(unittest.TestCase):
    def test_built_letter_parses_with_the_same_headers_text_and_attachments(self):
        with tempfile.TemporaryDirectory() as work:
            text = "Hello from the device.\nSecond line with caf\xe9.\n"
            with open(os.path.join(work, "text.txt"), "wb") as f:
                f.write(text.encode("latin-1"))
            files = {"photo.bin": bytes(range(256)) * 40, "notes.txt": b"plain notes\r\n.dot line\r\n",
                     "empty.dat": b""}
            for name, data in files.items():
                with open(os.path.join(work, name), "wb") as f:
                    f.write(data)
            letter = subprocess.run([TOOL, "build", "a@zelvan.net", "b@example.org", "Our subject",
                                     os.path.join(work, "text.txt")] + [os.path.join(work, n) for n in files],
                                    check=True, capture_output=True).stdout
            msg = email.message_from_bytes(letter, policy=email.policy.default)
            self.assertEqual(msg["From"], "a@zelvan.net")
            self.assertEqual(msg["To"], "b@example.org")
            self.assertEqual(msg["Subject"], "Our subject")
            self.assertEqual(msg.get_content_type(), "multipart/mixed")
            body = msg.get_body(preferencelist=("plain",))
            self.assertEqual(norm(body.get_content()), norm(text))
            got = {part.get_filename(): part.get_content() for part in msg.iter_attachments()}
            self.assertEqual(got, files)
            self.assertEqual(msg.defects, [])


class PythonToOurs(unittest.TestCase):
    def parse(self, message_bytes):
        work = tempfile.mkdtemp()
        path = os.path.join(work, "letter.eml")
        with open(path, "wb") as f:
            f.write(message_bytes)
        subprocess.run([TOOL, "parse", path, work], check=True)
        headers = {}
        with open(os.path.join(work, "headers.txt"), encoding="latin-1") as f:
            for line in f:
                name, _, value = line.rstrip("\n").partition(": ")
                headers[name] = value
        with open(os.path.join(work, "text.txt"), "rb") as f:
            text = f.read().decode("latin-1")
        attachments = {}
        for name in os.listdir(work):
            if name[0].isdigit() and "-" in name:
                with open(os.path.join(work, name), "rb") as f:
                    attachments[name.split("-", 1)[1]] = f.read()
        return headers, text, attachments

    def wire(self, msg):
        return msg.as_bytes(policy=email.policy.SMTP)

    def test_mixed_with_alternative_base64_and_qp(self):
        msg = EmailMessage()
        msg["From"] = "Sender <s@example.org>"
        msg["To"] = "u@zelvan.net"
        msg["Subject"] = "A rather long subject line that the generator will fold over more than one line of the header"
        msg["Date"] = "Tue, 01 Dec 2026 10:00:00 +0000"
        msg["Message-ID"] = "<abc@example.org>"
        text = "Plain caf\xe9 text\nwith a line that is long enough " + "x" * 80 + "\n"
        msg.set_content(text, charset="latin-1", cte="quoted-printable")
        msg.add_alternative("<p>html</p>", subtype="html")
        msg.add_attachment(bytes(range(200)), maintype="application", subtype="octet-stream", filename="blob.bin")
        msg.add_attachment(b"seven bit text\r\n", maintype="text", subtype="csv", filename="t.csv", cte="7bit")
        headers, got_text, attachments = self.parse(self.wire(msg))
        self.assertEqual(headers["subject"], str(msg["Subject"]))
        self.assertEqual(headers["from"], "Sender <s@example.org>")
        self.assertEqual(headers["message-id"], "<abc@example.org>")
        self.assertEqual(headers["mime"], "1")
        self.assertEqual(norm(got_text), norm(text))
        self.assertEqual(attachments["blob.bin"], bytes(range(200)))
        self.assertEqual(attachments["t.csv"], b"seven bit text\r\n")

    def test_single_part_base64_text_lower_case_headers_and_mime_version_first(self):
        msg = EmailMessage()
        msg["Subject"] = "lower"
        msg["From"] = "x@example.org"
        msg.set_content("only text\n", cte="base64")
        wire = self.wire(msg)
        head, _, body = wire.partition(b"\r\n\r\n")
        lines = [l for l in head.split(b"\r\n") if not l.lower().startswith(b"mime-version")]
        lines = [b"MIME-Version: 1.0"] + [l.split(b":", 1)[0].lower() + b":" + l.split(b":", 1)[1] for l in lines]
        headers, got_text, attachments = self.parse(b"\r\n".join(lines) + b"\r\n\r\n" + body)
        self.assertEqual(headers["subject"], "lower")
        self.assertEqual(headers["from"], "x@example.org")
        self.assertEqual(norm(got_text), "only text")
        self.assertEqual(attachments, {})


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main()

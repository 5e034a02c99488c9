#!/usr/bin/env python3
"""Writes and checks the 1.0 device's mailbox file ("email.dat") for the tests.

Written from the file layout alone, without the product's codec, so that what the mail
synchronizer writes can be checked against a file made another way. A mailbox is described by a
JSON file:

  {"flags": 0, "owner": "@ZV10E2E", "size": 2000,
   "records": [{"status": 4, "stamp": 0, "sender": "@ZV10E2E", "recipient": "friend@example.org",
                "id": "AB,B", "subject": "Hi", "body": "Hello"}]}

"owner" is a device user id (its device number is stored) or a number; "size" is the whole
file's size. A record's "stamp" (minutes since 2000-01-01, status 8 only) may be "session": the
comparison then takes the stamp the compared file holds at that record, provided it lies within
the last 30 minutes of the local clock.

  mailbox10.py write DESCRIPTION.json FILE
  mailbox10.py compare DESCRIPTION.json FILE   (FILE equals the description, byte for byte)
  mailbox10.py self-test
"""
import datetime
import json
import struct
import sys
import zlib

ALPHABET = "ABCDEFGHKLMNPRSTUVWXYZQJ23456789"


def device_number(address):
    """The device number of "@" + seven characters; 0 when the address is not one."""
    if not address or address[0] not in ("@", "\x85") or len(address) != 8:
        return 0
    text = address[1:].upper()
    if text[6] not in "AB":
        return 0
    number = 1 if text[6] == "B" else 0
    for k, c in enumerate(text[:6]):
        c = {"0": "Q", "O": "Q", "1": "J", "I": "J"}.get(c, c)
        if c not in ALPHABET:
            return 0
        number += ALPHABET.index(c) << (26 - 5 * k)
    return number


def owner_number(owner):
    if isinstance(owner, int):
        return owner
    text = owner[1:] if owner.startswith("@") else owner
    extra = {"A": 0, "B": 1, "C": 2147483648, "D": 2147483649}[text[6].upper()]
    return (device_number("@" + text[:6] + "A") + extra) & 0xFFFFFFFF


def address(text):
    """Kind byte and stored text of an address."""
    if len(text) == 8 and text[0] in ("@", "\x85"):
        return bytes([1]) + text[1:].encode("latin-1") + b"\0"
    if text[:3].lower() == "icq" and text[3:].isdigit():
        return bytes([4]) + text.encode("latin-1") + b"\0"
    return bytes([2]) + text.encode("latin-1") + b"\0"


def record_bytes(index, rec, stamp):
    content = (address(rec["sender"]) + address(rec["recipient"]) +
               b"\5" + rec.get("id", "").encode("latin-1") + b"\0" +
               b"\3" + rec.get("subject", "").encode("latin-1") + b"\0" +
               rec.get("body", "").encode("latin-1") + b"\0")
    length = (len(content) + 19) & ~1
    head = struct.pack(">HIIII", length, index, zlib.crc32(content) & 0xFFFFFFFF, device_number(rec["recipient"]),
                       rec["status"] << 24 | (stamp & 0xFFFFFF))
    return (head + content).ljust(length, b"\0")


def mailbox_bytes(layout, stamps=None):
    records = b""
    for i, rec in enumerate(layout.get("records", [])):
        stamp = rec.get("stamp", 0)
        if stamp == "session":
            stamp = stamps[i]
        records += record_bytes(i + 1, rec, stamp)
    head = struct.pack(">BBIHI", layout.get("flags", 0), 1, owner_number(layout.get("owner", 0)),
                       len(layout.get("records", [])), len(records) & 0xFFFF)
    return (head + records).ljust(layout["size"], b"\0")


def held_stamps(data):
    """The 24-bit stamps of the records of a mailbox file, in file order."""
    stamps, at = [], 12
    for _ in range(struct.unpack(">H", data[6:8])[0]):
        length = struct.unpack(">H", data[at:at + 2])[0]
        stamps.append(struct.unpack(">I", data[at + 14:at + 18])[0] & 0xFFFFFF)
        at += length
    return stamps


def minutes_now():
    return int((datetime.datetime.now() - datetime.datetime(2000, 1, 1)).total_seconds() // 60)


def compare(description, path):
    with open(description) as f:
        layout = json.load(f)
    with open(path, "rb") as f:
        got = f.read()
    try:
        stamps = held_stamps(got)
    except struct.error:
        stamps = []
    for i, rec in enumerate(layout.get("records", [])):
        if rec.get("stamp") == "session":
            if i >= len(stamps) or not 0 <= minutes_now() - stamps[i] <= 30:
                print("mailbox10 compare: record %d holds no stamp of this session" % (i + 1))
                return False
    want = mailbox_bytes(layout, stamps)
    if got == want:
        print("mailbox10 compare: %s equals the description (%d bytes)" % (path, len(got)))
        return True
    at = next((i for i in range(min(len(got), len(want))) if got[i] != want[i]), min(len(got), len(want)))
    print("mailbox10 compare: %s differs at offset %d (%d bytes, %d expected)" % (path, at, len(got), len(want)))
    return False


def self_test():
    """The writer against the layout's own examples."""
    assert device_number("@AAAAAAA") == 0 and device_number("@AAAAAAB") == 1
    assert device_number("@BAAAAAA") == 67108864 and device_number("@AAAAAAC") == 0
    assert owner_number("AAAAAAC") == 2147483648
    layout = {"flags": 0, "owner": 1, "size": 2000,
            "records": [{"status": 4, "sender": "@AAAAAAB", "recipient": "a@b.c", "id": "X", "subject": "S",
                         "body": "B"}]}
    data = mailbox_bytes(layout)
    assert len(data) == 2000 and data[:12] == bytes([0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 42])
    content = b"\1AAAAAAB\0" + b"\2a@b.c\0" + b"\5X\0" + b"\3S\0" + b"B\0"
    assert struct.unpack(">HII", data[12:22]) == (42, 1, zlib.crc32(content))
    assert data[26:30] == b"\4\0\0\0" and data[30:30 + len(content)] == content and data[30 + len(content)] == 0
    print("mailbox10 self-test passed")


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "write":
        with open(sys.argv[2]) as f:
            description = json.load(f)
        with open(sys.argv[3], "wb") as f:
            f.write(mailbox_bytes(description))
    elif len(sys.argv) == 4 and sys.argv[1] == "compare":
        sys.exit(0 if compare(sys.argv[2], sys.argv[3]) else 1)
    elif len(sys.argv) == 2 and sys.argv[1] == "self-test":
        self_test()
    else:
        sys.exit(__doc__)

#!/usr/bin/env python3
"""Writes device database fixtures (a catalog and its table files) for the tests.

Written from the file layout alone, without the engine, so that the engine's reading and
writing can be checked against files made another way. A fixture is described by a JSON file:

  {"catalog": "email.db",
   "tables": [{"name": "Mail", "id": 305419896, "size": 4096, "growth": 1024, "max": 0,
               "fields": [["Subject", 8], ["Flags", 5], ["Box", 6, 12], ["To", 10]],
               "records": [{"key": 1, "values": ["Hello", 7, "Inbox", "a@b"]},
                           {"key": 2, "deleted": true, "values": [...]}]}]}

Field entries are [name, type] or [name, type, size] (size for types 6 and 7) or, for a
reference field, [name, 1, table id]. Values follow the field order: numbers for types 1-5,
texts for 6, 8 and 10, hexadecimal strings for 7 and 9. A value of null leaves the field empty.

  dbfixture.py write DESCRIPTION.json OUTPUT_FOLDER
  dbfixture.py compare DESCRIPTION.json FOLDER   (the folder's files equal the description's, byte for byte)
  dbfixture.py self-test
"""
import json
import os
import struct
import sys

# type number: (kind, fixed size or None when chosen per field)
KINDS = {1: (0x05, 4), 2: (0x01, 1), 3: (0x02, 1), 4: (0x03, 2), 5: (0x04, 4),
         6: (0x0B, None), 7: (0x0C, None), 8: (0x10, 8), 9: (0x20, 8), 10: (0x30, 0)}
DELETED, LAST = 0x8000, 0x4000


def type_code(ftype, size=0):
    kind, fixed = KINDS[ftype]
    return kind << 8 | (fixed if fixed is not None else size)


class Layout:
    def __init__(self, fields):
        self.fields = []
        offset, slot = 0, 0
        for f in fields:
            name, ftype = f[0], f[1]
            size = f[2] if ftype in (6, 7) and len(f) > 2 else 0
            param = f[2] if ftype == 1 and len(f) > 2 else 0
            code = type_code(ftype, size)
            entry = {"name": name[:31], "type": ftype, "code": code, "param": param}
            if ftype == 10:
                entry["slot"] = slot
                slot += 1
            else:
                entry["offset"] = offset
                offset += code & 0xFF
            self.fields.append(entry)
        self.fixed = offset
        self.lists = slot
        self.record = offset + (8 if slot else 0)

    def format_block(self):
        out = struct.pack(">I", len(self.fields))
        for f in self.fields:
            name = f["name"].encode("latin-1")
            out += bytes([len(name)]) + name + struct.pack(">IH", f["param"], f["code"])
        return out


def catalog_bytes(tables):
    out = b"ZvDB" + struct.pack(">I", 1) + bytes(24) + struct.pack(">I", len(tables))
    for t in tables:
        name = t["name"].encode("latin-1")[:31]
        out += struct.pack(">I", t["id"]) + name + bytes(31 - len(name))
    return out


def table_bytes(t):
    layout = Layout(t["fields"])
    block = layout.format_block()
    data_start = 48 + len(block)
    slot_size = layout.record + 6
    size = t.get("size", 4096)
    image = bytearray(size)
    image[0:48] = (b"ZvDT" + struct.pack(">IIIiI", 1, t["id"], data_start, t.get("growth", 1024), t.get("max", 0))
                   + bytes(24))
    image[48:data_start] = block
    bottom = size
    records = t.get("records", [])

    def put_entry(owner, data):
        nonlocal bottom
        start = bottom - len(data) - 8
        image[start:bottom] = struct.pack(">I", owner) + data + struct.pack(">I", len(data))
        bottom = start
        return start

    if not records:
        struct.pack_into(">IH", image, data_start, 0, DELETED | LAST)
    for i, rec in enumerate(records):
        pos = data_start + i * slot_size
        body = bytearray(layout.record)
        strings = []
        for f, value in zip(layout.fields, rec["values"]):
            if value is None:
                continue
            ftype = f["type"]
            if ftype == 10:
                while len(strings) <= f["slot"]:
                    strings.append(b"")
                strings[f["slot"]] = value.encode("latin-1")
                continue
            off = f["offset"]
            if ftype in (1, 5):
                struct.pack_into(">I", body, off, value)
            elif ftype == 4:
                struct.pack_into(">H", body, off, value)
            elif ftype in (2, 3):
                body[off] = value
            elif ftype in (6, 7):
                raw = value.encode("latin-1") if ftype == 6 else bytes.fromhex(value)
                size_f = f["code"] & 0xFF
                raw = (raw + b"\0")[:size_f] if ftype == 6 else raw[:size_f]
                body[off:off + len(raw)] = raw
            elif ftype in (8, 9):
                raw = value.encode("latin-1") if ftype == 8 else bytes.fromhex(value)
                if raw:
                    start = put_entry(pos + 6 + off, raw)
                    struct.pack_into(">II", body, off, start, len(raw))
        if layout.lists and strings:
            raw = b"".join(s + b"\0" for s in strings)
            start = put_entry(pos + 6 + layout.fixed, raw)
            struct.pack_into(">II", body, layout.fixed, start, len(raw))
        flags = (DELETED if rec.get("deleted") else 0) | (LAST if i == len(records) - 1 else 0)
        image[pos:pos + slot_size] = struct.pack(">IH", rec["key"], flags) + bytes(body)
        if bottom < pos + slot_size:
            raise ValueError("table %s: records do not fit in %d bytes" % (t["name"], size))
    return bytes(image)


def write(description, folder):
    with open(description) as f:
        spec = json.load(f)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, spec["catalog"]), "wb") as f:
        f.write(catalog_bytes(spec["tables"]))
    for t in spec["tables"]:
        with open(os.path.join(folder, "%08X.t" % t["id"]), "wb") as f:
            f.write(table_bytes(t))


def compare(description, folder):
    """Writes the description's files into a temporary folder and compares each with the file of
    the same name in `folder`; prints the first difference. True when all are equal."""
    import tempfile
    with tempfile.TemporaryDirectory() as expected:
        write(description, expected)
        same = True
        for name in sorted(os.listdir(expected)):
            with open(os.path.join(expected, name), "rb") as f:
                want = f.read()
            path = os.path.join(folder, name)
            if not os.path.exists(path):
                print("dbfixture compare: %s is missing" % path)
                same = False
                continue
            with open(path, "rb") as f:
                got = f.read()
            if got == want:
                print("dbfixture compare: %s equals the description (%d bytes)" % (name, len(got)))
                continue
            at = next((i for i in range(min(len(got), len(want))) if got[i] != want[i]), min(len(got), len(want)))
            print("dbfixture compare: %s differs at offset %d (%d bytes, %d expected)" % (name, at, len(got), len(want)))
            same = False
        return same


def self_test():
    """The writer against the layout's own examples."""
    cat = catalog_bytes([{"name": "Mail", "id": 0x01020304}])
    assert cat[:4] == b"ZvDB" and cat[4:8] == b"\0\0\0\1" and cat[8:32] == bytes(24)
    assert cat[32:36] == b"\0\0\0\1" and cat[36:40] == b"\1\2\3\4" and len(cat) == 36 + 35
    assert cat[40:44] == b"Mail" and cat[44:71] == bytes(27)
    long_name = catalog_bytes([{"name": "N" * 40, "id": 1}])
    assert long_name[40:71] == b"N" * 31 and len(long_name) == 71
    # One type-10 field and a word field: record size 2 + 8; without the type-10 field, 2.
    assert Layout([["T", 10], ["W", 4]]).record == 10
    assert Layout([["W", 4]]).record == 2
    # A new table of 4096 bytes: header, format block and the zero first slot flagged 0xC000.
    t = table_bytes({"name": "W", "id": 7, "size": 4096, "growth": 512, "fields": [["W", 4]]})
    assert len(t) == 4096 and t[:4] == b"ZvDT"
    assert struct.unpack(">IIIiI", t[4:24]) == (1, 7, 48 + 4 + 1 + 1 + 6, 512, 0)
    assert t[48:60] == b"\0\0\0\1" + b"\1W" + b"\0\0\0\0" + b"\x03\x02"
    assert t[60:68] == b"\0\0\0\0\xC0\0\0\0"
    # Slot i at data start + i * (record size + 6); out-of-line entries from the file end down.
    t = table_bytes({"name": "M", "id": 9, "size": 1024, "fields": [["S", 8], ["W", 4]],
                     "records": [{"key": 1, "values": ["ab", 5]}, {"key": 2, "values": ["c", 6]}]})
    ds = 48 + 4 + (1 + 1 + 6) * 2
    assert struct.unpack(">IH", t[ds:ds + 6]) == (1, 0) and struct.unpack(">IH", t[ds + 16:ds + 22]) == (2, LAST)
    assert struct.unpack(">II", t[ds + 6:ds + 14]) == (1024 - 10, 2)
    assert t[1024 - 10:] == struct.pack(">I", ds + 6) + b"ab" + struct.pack(">I", 2)
    assert struct.unpack(">II", t[ds + 22:ds + 30]) == (1024 - 10 - 9, 1)
    print("dbfixture self-test passed")


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "write":
        write(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 4 and sys.argv[1] == "compare":
        sys.exit(0 if compare(sys.argv[2], sys.argv[3]) else 1)
    elif len(sys.argv) == 2 and sys.argv[1] == "self-test":
        self_test()
    else:
        sys.exit(__doc__)

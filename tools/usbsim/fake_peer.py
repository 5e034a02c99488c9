#!/usr/bin/env python3
"""A minimal stand-in for the device emulator's USB port, for testing the test USB driver.

It speaks PROTOCOL.md to the driver's slots on --usb-port and takes line commands from a test on
--control-port (one reply line per command, "ok ..." or "err ..."):

  wait-hello <slot> <ms>       wait until the slot is connected; "ok <kind>"
  plug <slot> <22 characters>  send PLUG with the characters as the device information record
  unplug <slot>                send UNPLUG
  data <slot> <hex>            send DATA
  failread <slot>              send FAILREAD
  drop <slot>                  close the slot's connection
  next-write <slot> <ms>       the payload of the slot's next WRITE; "ok <hex>" or "err timeout"
  echo <slot> <0|1>            send every WRITE of the slot straight back as DATA
  next-image <slot> <ms>       the slot's next IMAGE; "ok <length> <crc-32 in hex>" or "err timeout"
  image-done <slot> <status> <count>  send IMAGE_DONE (completes the pending image request)
"""
import argparse
import queue
import socket
import struct
import sys
import threading
import zlib

HELLO, WRITE, IMAGE = 0x01, 0x02, 0x03
PLUG, UNPLUG, DATA, FAILREAD, IMAGE_DONE = 0x10, 0x11, 0x12, 0x13, 0x14


class Slot:
    def __init__(self, conn, kind):
        self.conn = conn
        self.kind = kind
        self.writes = queue.Queue()
        self.images = queue.Queue()
        self.echo = False
        self.send_lock = threading.Lock()

    def send(self, msg_type, payload=b""):
        message = struct.pack("<IB", 1 + len(payload), msg_type) + payload
        with self.send_lock:
            self.conn.sendall(message)


class Peer:
    def __init__(self):
        self.slots = {}
        self.changed = threading.Condition()

    def slot(self, number):
        with self.changed:
            found = self.slots.get(number)
        if found is None:
            raise LookupError(f"slot {number} not connected")
        return found

    def serve_usb(self, conn):
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        number = None
        try:
            while True:
                header = receive_exact(conn, 4)
                (length,) = struct.unpack("<I", header)
                body = receive_exact(conn, length)
                if body[0] == HELLO:
                    number, kind = struct.unpack("<IB", body[1:6])
                    with self.changed:
                        self.slots[number] = Slot(conn, kind)
                        self.changed.notify_all()
                elif body[0] == WRITE and number is not None:
                    slot = self.slot(number)
                    if slot.echo:
                        slot.send(DATA, body[1:])
                    else:
                        slot.writes.put(body[1:])
                elif body[0] == IMAGE and number is not None:
                    self.slot(number).images.put((len(body) - 1, zlib.crc32(body[1:])))
        except (ConnectionError, OSError, LookupError):
            pass
        finally:
            with self.changed:
                if number is not None and self.slots.get(number) and self.slots[number].conn is conn:
                    del self.slots[number]
                self.changed.notify_all()
            conn.close()

    def wait_hello(self, number, timeout_ms):
        with self.changed:
            if not self.changed.wait_for(lambda: number in self.slots, timeout_ms / 1000):
                return "err timeout"
            return f"ok {self.slots[number].kind}"

    def command(self, line):
        words = line.split()
        if not words:
            return "err empty"
        name, args = words[0], words[1:]
        try:
            if name == "wait-hello":
                return self.wait_hello(int(args[0]), int(args[1]))
            slot = self.slot(int(args[0]))
            if name == "plug":
                record = args[1].encode("utf-16-le")
                if len(record) != 44:
                    return "err record must be 22 characters"
                slot.send(PLUG, record)
            elif name == "unplug":
                slot.send(UNPLUG)
            elif name == "data":
                slot.send(DATA, bytes.fromhex(args[1]))
            elif name == "failread":
                slot.send(FAILREAD)
            elif name == "drop":
                slot.conn.shutdown(socket.SHUT_RDWR)
            elif name == "echo":
                slot.echo = args[1] == "1"
            elif name == "next-write":
                try:
                    return "ok " + slot.writes.get(timeout=int(args[1]) / 1000).hex()
                except queue.Empty:
                    return "err timeout"
            elif name == "next-image":
                try:
                    length, crc = slot.images.get(timeout=int(args[1]) / 1000)
                    return f"ok {length} {crc:08x}"
                except queue.Empty:
                    return "err timeout"
            elif name == "image-done":
                slot.send(IMAGE_DONE, struct.pack("<II", int(args[1]), int(args[2])))
            else:
                return "err unknown command"
            return "ok"
        except (IndexError, ValueError, LookupError, OSError) as error:
            return f"err {error}"

    def serve_control(self, conn):
        with conn, conn.makefile("rw", newline="\n") as stream:
            for line in stream:
                stream.write(self.command(line) + "\n")
                stream.flush()


def receive_exact(conn, size):
    data = b""
    while len(data) < size:
        chunk = conn.recv(size - len(data))
        if not chunk:
            raise ConnectionError("closed")
        data += chunk
    return data


def listen(port):
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", port))
    server.listen(16)
    return server


def accept_forever(server, handler):
    while True:
        conn, _ = server.accept()
        threading.Thread(target=handler, args=(conn,), daemon=True).start()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--usb-port", type=int, required=True)
    parser.add_argument("--control-port", type=int, required=True)
    options = parser.parse_args()

    peer = Peer()
    usb = listen(options.usb_port)
    control = listen(options.control_port)
    threading.Thread(target=accept_forever, args=(usb, peer.serve_usb), daemon=True).start()
    print("ready", flush=True)
    try:
        accept_forever(control, peer.serve_control)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())

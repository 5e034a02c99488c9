#!/usr/bin/env python3
"""Mail benchmarks, every figure printed as a ratio with its goal:
  - ZvPOP3 retrieving 1000 messages of 4 KB and 20 of 390 KB, against a bare Windows Sockets
    client of our own making the same exchanges under Wine on the same test mail server in the
    same run (the floor Wine's sockets set; goal: at most 1.3 times its time), and for reference
    against Python's poplib and plain loopback TCP throughput;
  - ZvSMTP sending 1000 letters, against the bare client (goal as above) and smtplib;
  - our Base64 encoding and decoding of 64 MiB, against coreutils' base64.
The sides of each ratio take turns, round after round, and each side's figure is its median round.
Usage: mail_benchmark.py <mail_benchmark.exe> <work folder>"""
import os
import poplib
import shutil
import smtplib
import socket
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "..", "..", "tools", "mailpeer", "mail_server.py")
WINE = os.environ.get("TV_WINE", "/usr/lib/wine/wine64")
USER = "BENCHU1"
RECIPIENT = "bench@example.org"


def winpath(path):
    return "Z:" + os.path.realpath(path).replace("/", "\\")


def message(index, size):
    head = b"From: Bench <bench@example.org>\r\nTo: %s@zelvan.net\r\nSubject: message %d\r\n\r\n" % (
        USER.encode(), index)
    line = b"The quick brown fox jumps over the lazy dog; .dots and more text to fill the line.\r\n"
    body = (line * (size // len(line) + 1))[:size - len(head) - 2] + b"\r\n"
    return head + body


def fill(root, mailbox, count, size):
    folder = os.path.join(root, "mailboxes", mailbox)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for i in range(count):
        with open(os.path.join(folder, "%06d.eml" % (i + 1)), "wb") as f:
            f.write(message(i, size))


def run_exe(exe, env, *args):
    out = subprocess.run([WINE, exe] + list(args), env=env, check=True, capture_output=True, timeout=900)
    return out.stdout.decode().split()


def poplib_receive(port, count):
    start = time.perf_counter()
    client = poplib.POP3("127.0.0.1", port, timeout=60)
    client.user(USER)
    client.pass_("")
    n, _ = client.stat()
    got = 0
    for i in range(1, n + 1):
        _, lines, _ = client.retr(i)
        got += len(b"\r\n".join(lines))
        client.dele(i)
    client.quit()
    seconds = time.perf_counter() - start
    assert n == count, (n, count)
    return seconds, got


def loopback_seconds(total):
    """Seconds to push `total` bytes through one loopback TCP connection (a few milliseconds)."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    chunk = b"x" * 65536

    def push():
        peer, _ = listener.accept()
        left = total
        while left > 0:
            peer.sendall(chunk[:min(left, len(chunk))])
            left -= min(left, len(chunk))
        peer.close()

    sender = threading.Thread(target=push)
    sender.start()
    start = time.perf_counter()
    conn = socket.create_connection(listener.getsockname())
    got = 0
    while True:
        data = conn.recv(1 << 20)
        if not data:
            break
        got += len(data)
    seconds = time.perf_counter() - start
    conn.close()
    sender.join()
    listener.close()
    assert got == total
    return seconds


# Rounds of each side of a ratio. The sides take turns (A, B, A, B, ...) so that a change in the
# machine's load falls on all of them, and each side's figure is its median round: neither a round
# slowed by load from elsewhere nor a lucky one decides the ratio.
ROUNDS = 7
# The sending rounds are longer (some 2.5 s a client).
SENDING_ROUNDS = 3
# Loopback TCP moves the mail in milliseconds: a round pushes it again and again for this long.
LOOPBACK_ROUND_SECONDS = 0.1
# A pass of Base64 coding takes a tenth of a second, most of it writing the file, which moves by
# half from one pass to the next: a round codes the file this many times, encoding and decoding in
# turn, and its figures are the means of its passes.
BASE64_PASSES = 5
BASE64_ROUNDS = 5


def median_rounds(rounds, *sides):
    """Calls every side once a round, in turn, for `rounds` rounds. A side returns its seconds, or
    a tuple of several figures; the median of each figure over the rounds, in order."""
    rows = []
    for _ in range(rounds):
        row = []
        for run in sides:
            got = run()
            row.extend(got if isinstance(got, tuple) else (got,))
        rows.append(row)
    return [statistics.median(column) for column in zip(*rows)]


def repeated_seconds(run, least):
    """The mean of run()'s seconds over as many calls in a row as add up to `least` seconds."""
    spent, calls = 0.0, 0
    while spent < least:
        spent += run()
        calls += 1
    return spent / calls


def retrieval(exe, env, root, port, count, size, label):
    received = {}

    def ours():
        fill(root, USER, count, size)
        seconds, ours_count, ours_bytes = run_exe(exe, env, "receive", USER)
        if int(ours_count) != count:
            raise SystemExit("ZvPOP3 retrieved %s of %d messages" % (ours_count, count))
        received["bytes"] = int(ours_bytes)
        return float(seconds)

    def bare():
        fill(root, USER, count, size)
        seconds, bare_count, bare_bytes = run_exe(exe, env, "bare-receive", USER)
        if int(bare_count) != count or int(bare_bytes) != received["bytes"]:
            raise SystemExit("the bare client retrieved %s messages, %s bytes; ZvPOP3 %d, %d"
                             % (bare_count, bare_bytes, count, received["bytes"]))
        return float(seconds)

    def python():
        fill(root, USER, count, size)
        return poplib_receive(port, count)[0]

    def loopback():
        return repeated_seconds(lambda: loopback_seconds(received["bytes"]), LOOPBACK_ROUND_SECONDS)

    ours_seconds, bare_seconds, py_seconds, tcp_seconds = median_rounds(ROUNDS, ours, bare, python, loopback)
    total = received["bytes"]
    print("POP3 %s: ZvPOP3 %.3f s, bare Winsock client %.3f s (median of %d rounds); time ratio ZvPOP3/bare: %.2f (goal <= 1.3)"
          % (label, ours_seconds, bare_seconds, ROUNDS, ours_seconds / bare_seconds))
    print("POP3 %s: ZvPOP3 %.3f s, poplib %.3f s (median of %d rounds); speed ratio ZvPOP3/poplib: %.2f (goal: none, for reference)"
          % (label, ours_seconds, py_seconds, ROUNDS, py_seconds / ours_seconds))
    print("POP3 %s: throughput ratio ZvPOP3/loopback TCP: %.4f (goal: none, for reference; %.1f MB/s against %.1f MB/s, median of %d rounds)"
          % (label, tcp_seconds / ours_seconds, total / ours_seconds / 1e6, total / tcp_seconds / 1e6, ROUNDS))


def sending(exe, env, root, port, count, size):
    text = message(0, size)
    box = os.path.join(root, "mailboxes", RECIPIENT)

    def stored(who):
        got = len(os.listdir(box))
        if got != count:
            raise SystemExit("%s stored %d of %d letters" % (who, got, count))

    def python():
        shutil.rmtree(box, ignore_errors=True)
        start = time.perf_counter()
        client = smtplib.SMTP("127.0.0.1", port, timeout=60)
        client.helo(USER)
        for _ in range(count):
            client.sendmail(USER + "@zelvan.net", [RECIPIENT], text)
        client.quit()
        seconds = time.perf_counter() - start
        stored("smtplib")
        return seconds

    def client(mode):
        shutil.rmtree(box, ignore_errors=True)
        seconds = float(run_exe(exe, env, mode, USER, str(count), str(size))[0])
        stored(mode)
        return seconds

    py_seconds, ours_seconds, bare_seconds = median_rounds(
        SENDING_ROUNDS, python, lambda: client("send"), lambda: client("bare-send"))
    shutil.rmtree(box, ignore_errors=True)
    print("SMTP %d letters: ZvSMTP %.2f s, bare Winsock client %.2f s (median of %d rounds); time ratio ZvSMTP/bare: %.2f (goal <= 1.3)"
          % (count, ours_seconds, bare_seconds, SENDING_ROUNDS, ours_seconds / bare_seconds))
    print("SMTP %d letters: ZvSMTP %.2f s, smtplib %.2f s (median of %d rounds); speed ratio ZvSMTP/smtplib: %.2f (goal: none, for reference)"
          % (count, ours_seconds, py_seconds, SENDING_ROUNDS, py_seconds / ours_seconds))


def base64_coding(exe, work):
    source = os.path.join(work, "data.bin")
    with open(source, "wb") as f:
        f.write(os.urandom(64 << 20))
    ours_encoded = os.path.join(work, "ours.b64")
    ours_decoded = os.path.join(work, "ours.bin")
    theirs_encoded = os.path.join(work, "theirs.b64")
    theirs_decoded = os.path.join(work, "theirs.bin")

    def ours():
        return tuple(map(float, run_exe(exe, os.environ.copy(), "base64", winpath(source),
                                        winpath(ours_encoded), winpath(ours_decoded), str(BASE64_PASSES))))

    def timed(command, target):
        start = time.perf_counter()
        with open(target, "wb") as out:
            subprocess.run(command, stdout=out, check=True)
        return time.perf_counter() - start

    def theirs():
        encode = decode = 0.0
        for _ in range(BASE64_PASSES):
            encode += timed(["base64", source], theirs_encoded)
            decode += timed(["base64", "-d", theirs_encoded], theirs_decoded)
        with open(ours_encoded, "rb") as a, open(theirs_encoded, "rb") as b:
            if a.read().replace(b"\r\n", b"\n").rstrip(b"\n") != b.read().rstrip(b"\n"):
                raise SystemExit("our Base64 text differs from coreutils' (line ends aside)")
        with open(ours_decoded, "rb") as a, open(source, "rb") as b:
            if a.read() != b.read():
                raise SystemExit("our Base64 decoding does not give the data back")
        # The next round writes new files: these need not reach the disk.
        for path in (ours_encoded, ours_decoded, theirs_encoded, theirs_decoded):
            os.remove(path)
        return encode / BASE64_PASSES, decode / BASE64_PASSES

    encode_seconds, decode_seconds, their_encode, their_decode = median_rounds(BASE64_ROUNDS, ours, theirs)
    print("Base64 64 MiB encode (file to file in blocks): ours %.3f s, base64 %.3f s (median of %d rounds of %d passes); speed ratio ours/base64: %.2f (goal >= 0.8)"
          % (encode_seconds, their_encode, BASE64_ROUNDS, BASE64_PASSES, their_encode / encode_seconds))
    print("Base64 64 MiB decode (file to file in blocks): ours %.3f s, base64 -d %.3f s (median of %d rounds of %d passes); speed ratio ours/base64: %.2f (goal >= 0.8)"
          % (decode_seconds, their_decode, BASE64_ROUNDS, BASE64_PASSES, their_decode / decode_seconds))


def main():
    exe, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    root = os.path.join(work, "root")
    os.makedirs(root)
    ports = os.path.join(work, "ports")
    server = subprocess.Popen([sys.executable, SERVER, root, ports, "--lifetime", "1800"],
                              stderr=open(os.path.join(work, "server.log"), "wb"))
    try:
        deadline = time.monotonic() + 20
        while not os.path.exists(ports):
            if time.monotonic() > deadline or server.poll() is not None:
                raise SystemExit("the test mail server did not start")
            time.sleep(0.05)
        pop3, smtp = map(int, open(ports).read().split())
        with open(os.path.join(root, "faults"), "w"):
            pass
        env = dict(os.environ, TV_POP3_PORT=str(pop3), TV_SMTP_PORT=str(smtp), TV_MAIL_ROOT=winpath(root))
        env.setdefault("WINEDEBUG", "-all")
        retrieval(exe, env, root, pop3, 1000, 4096, "1000 x 4 KB")
        retrieval(exe, env, root, pop3, 20, 390 * 1024, "20 x 390 KB")
        sending(exe, env, root, smtp, 1000, 4096)
        base64_coding(exe, work)
    finally:
        server.kill()
        server.wait()
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()

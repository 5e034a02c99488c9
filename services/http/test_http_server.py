"""HTTP server on 127.0.0.1 for the HTTP client's tests.
   test_http_server.py <root folder> <port file>
GET  /static/<name>     the file <root>/<name> with Content-Length (404 when missing)
GET  /nolength/<name>   the same bytes without Content-Length (the connection closes)
GET  /status/<code>     that status with a short body
POST /upload/<mode>     saves the request (posted.body, posted.path, posted.headers) and answers
                        ok: "OK" header + text; er: "ER" header; short: "OK" only; plain: "thanks";
                        fail: status 500
Every request's User-Agent goes to <root>/last-agent.txt."""
import http.server
import os
import sys


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."

    def log_message(self, fmt, *args):
        sys.stderr.write("server: " + (fmt % args) + "\n")

    def _save(self, name, data):
        with open(os.path.join(self.root, name), "wb") as f:
            f.write(data)

    def _answer(self, status, body, length=True):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if length:
            self.send_header("Content-Length", str(len(body)))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        self._save("last-agent.txt", self.headers.get("User-Agent", "").encode())
        parts = self.path.split("/", 2)
        kind = parts[1] if len(parts) > 1 else ""
        arg = parts[2] if len(parts) > 2 else ""
        if kind in ("static", "nolength"):
            path = os.path.join(self.root, os.path.basename(arg.split("?")[0]))
            if not os.path.isfile(path):
                return self._answer(404, b"not here")
            with open(path, "rb") as f:
                data = f.read()
            return self._answer(200, data, length=(kind == "static"))
        if kind == "status":
            return self._answer(int(arg), b"status body")
        self._answer(404, b"unknown")

    def do_POST(self):
        self._save("last-agent.txt", self.headers.get("User-Agent", "").encode())
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        self._save("posted.body", body)
        self._save("posted.path", self.path.encode())
        self._save("posted.headers", str(self.headers).encode())
        mode = self.path.split("/")[-1].split("?")[0]
        answers = {
            "ok": (200, b"OK" + b" " * 30 + b"accepted"),
            "er": (200, b"ER" + b" " * 30 + b"refused"),
            "short": (200, b"OK"),
            "plain": (200, b"thanks"),
            "fail": (500, b"broken"),
        }
        status, answer = answers.get(mode, (404, b"unknown"))
        self._answer(status, answer)


def main():
    Handler.root = sys.argv[1]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    with open(sys.argv[2] + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(sys.argv[2] + ".tmp", sys.argv[2])
    server.serve_forever()


if __name__ == "__main__":
    main()

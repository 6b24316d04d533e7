"""A small HTTP server for tests: serves one folder on 127.0.0.1, honours
single byte ranges, and counts the bytes of file contents it sent.

    with RangeServer(folder) as server:
        url = server.url("a.ARC")
        ...
        server.bytes_sent       # body bytes sent so far

Run as `python3 range_server.py DIR [SECONDS]` it prints the port on a line
and serves until SIGTERM or SIGINT, or for SECONDS (600 unless given) at most.
"""
import http.server
import os
import re
import signal
import sys
import threading
import urllib.parse

_RANGE = re.compile(r"bytes=(\d*)-(\d*)$")
_CHUNK = 1 << 16


def parse_range(header, size):
    """(first, last) inclusive for a `bytes=A-B`, `bytes=A-` or `bytes=-N` header, None when it
    cannot be satisfied; a header this server does not understand is ignored (the whole file)."""
    match = _RANGE.match(header.strip())
    if not match or match.group(1) == match.group(2) == "":
        return (0, size - 1) if size else "whole"
    first, last = match.group(1), match.group(2)
    if first == "":  # the last N bytes
        count = int(last)
        if count == 0 or size == 0:
            return None
        return max(size - count, 0), size - 1
    first = int(first)
    last = size - 1 if last == "" else min(int(last), size - 1)
    if first >= size or last < first:
        return None
    return first, last


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):  # quiet in test output
        pass

    def _file(self):
        relative = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path).lstrip("/")
        root = os.path.realpath(self.server.root)
        path = os.path.realpath(os.path.join(root, relative))
        if os.path.commonpath([root, path]) != root or not os.path.isfile(path):
            return None
        return path

    def _not_found(self):
        self.send_response(404)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_HEAD(self):
        self._answer(body=False)

    def do_GET(self):
        self._answer(body=True)

    def _answer(self, body):
        path = self._file()
        if path is None:
            self._not_found()
            return
        size = os.path.getsize(path)
        header = self.headers.get("Range")
        first, last, status = 0, size - 1, 200
        if header is not None:
            wanted = parse_range(header, size)
            if wanted is None:
                self.send_response(416)
                self.send_header("Content-Range", f"bytes */{size}")
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            if wanted != "whole":
                first, last = wanted
                status = 206
        length = max(last - first + 1, 0)
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Length", str(length))
        if status == 206:
            self.send_header("Content-Range", f"bytes {first}-{last}/{size}")
        self.end_headers()
        if not body:
            return
        with open(path, "rb") as f:
            f.seek(first)
            left = length
            while left > 0:
                chunk = f.read(min(left, _CHUNK))
                if not chunk:
                    break
                # Counted before it goes, so a client that has it sees it counted.
                self.server.count(len(chunk))
                self.wfile.write(chunk)
                left -= len(chunk)


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, root):
        super().__init__(("127.0.0.1", 0), _Handler)
        self.root = root
        self.sent = 0
        self.requests = 0
        self._lock = threading.Lock()

    def count(self, size):
        with self._lock:
            self.sent += size

    def finish_request(self, request, client_address):
        with self._lock:
            self.requests += 1
        super().finish_request(request, client_address)


class RangeServer:
    """Serves `root` on 127.0.0.1 at a port the system chooses, in a thread, while the context lasts."""

    def __init__(self, root):
        self._server = _Server(os.fspath(root))
        self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)

    @property
    def port(self):
        return self._server.server_address[1]

    def url(self, relative=""):
        return f"http://127.0.0.1:{self.port}/" + urllib.parse.quote(relative)

    @property
    def bytes_sent(self):
        """Bytes of file contents sent so far (headers not counted)."""
        with self._server._lock:
            return self._server.sent

    @property
    def connections(self):
        with self._server._lock:
            return self._server.requests

    def reset(self):
        with self._server._lock:
            self._server.sent = 0

    def start(self):
        self._thread.start()
        return self

    def stop(self):
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=10)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def main(argv):
    if len(argv) not in (2, 3) or not os.path.isdir(argv[1]) or (len(argv) == 3 and not argv[2].isdigit()):
        print("usage: range_server.py DIR [SECONDS]", file=sys.stderr)
        return 64
    lifetime = int(argv[2]) if len(argv) == 3 else 600
    stop = threading.Event()
    for number in (signal.SIGTERM, signal.SIGINT):
        signal.signal(number, lambda *_: stop.set())
    with RangeServer(argv[1]) as server:
        print(server.port, flush=True)
        stop.wait(lifetime)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

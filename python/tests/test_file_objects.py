"""Listings read through Python file objects (a BytesIO, a real file, fsspec
files local and over HTTP) equal those of the same bytes on disk, in bounded
reads; hostile objects fail with the module's errors. Also the test HTTP
server itself, which other suites use too."""
import http.client
import os
import subprocess
import sys

import pytest

from range_server import RangeServer, parse_range

HERE = os.path.dirname(os.path.abspath(__file__))


def fetch(server, method, path, headers=None):
    connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=10)
    try:
        connection.request(method, path, headers=headers or {})
        response = connection.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    finally:
        connection.close()


def test_range_server_answers_ranges_heads_and_refusals(tmp_path):
    data = bytes(range(256)) * 4
    (tmp_path / "f.bin").write_bytes(data)
    (tmp_path / "sub").mkdir()
    with RangeServer(tmp_path / "sub") as server:
        assert fetch(server, "GET", "/../f.bin")[0] == 404  # nothing outside its folder
    with RangeServer(tmp_path) as server:
        status, headers, body = fetch(server, "HEAD", "/f.bin")
        assert (status, headers["Content-Length"], headers["Accept-Ranges"], body) == (200, "1024", "bytes", b"")
        status, headers, body = fetch(server, "GET", "/f.bin", {"Range": "bytes=10-19"})
        assert (status, headers["Content-Range"], body) == (206, "bytes 10-19/1024", data[10:20])
        assert fetch(server, "GET", "/f.bin", {"Range": "bytes=1000-5000"})[2] == data[1000:]
        assert fetch(server, "GET", "/f.bin", {"Range": "bytes=-4"})[2] == data[-4:]
        status, headers, _ = fetch(server, "GET", "/f.bin", {"Range": "bytes=1024-"})
        assert (status, headers["Content-Range"]) == (416, "bytes */1024")
        assert fetch(server, "GET", "/f.bin")[2] == data
        assert server.bytes_sent == 10 + 24 + 4 + 1024
        assert fetch(server, "GET", "/missing")[0] == 404
    assert parse_range("bytes=5-2", 10) is None and parse_range("items=1-2", 10) == (0, 9)


def test_range_server_runs_as_a_program(tmp_path):
    (tmp_path / "x").write_bytes(b"hello")
    process = subprocess.Popen([sys.executable, os.path.join(HERE, "range_server.py"), str(tmp_path), "60"],
                               stdout=subprocess.PIPE, text=True)
    try:
        port = int(process.stdout.readline())
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        connection.request("GET", "/x", headers={"Range": "bytes=1-3"})
        assert connection.getresponse().read() == b"ell"
        connection.close()
    finally:
        process.terminate()
        assert process.wait(timeout=10) == 0

"""Listings read through Python file objects (a BytesIO, a real file, fsspec
files local and over HTTP) equal those of the same bytes on disk, in bounded
reads; hostile objects fail with the module's errors. Also the test HTTP
server itself, which other suites use too."""
import http.client
import io
import os
import re
import struct
import subprocess
import sys

import fsspec
import pytest

import vexmira
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


def archive(entries, identifier=b"LZH", archive_type=1, signature=b"SPIS\x1a"):
    data = signature + identifier + struct.pack("<iBII", 0, archive_type, 0, 0)
    for name, full, stored, method in entries:
        data += struct.pack("<hIHiiBII", len(name), 0, 0, full, stored, method, 0, 0) + name + b"\xee" * max(stored, 0)
    return data


STUB = b"MZ" + b"\x90" * 39998
SAMPLE = archive([(b"README.TXT", 5120, 2210, 4), (b"LOGO.BMP", 300, 300, 0), (b"caf\xe9.INI", 812, 530, 1)])
# name: bytes. Each kind of listing: direct, located, none found, suspect
# trailing entries, cut short, header errors.
SAMPLES = {
    "a.ARC": SAMPLE,
    "setup.exe": STUB + SAMPLE + bytes(60),
    "plain.exe": STUB,
    "multi.exe": STUB + SAMPLE + b"\xff" * 9000 + archive([(b"TWO", 1, 1, 0)], b"NON"),
    "cut.ARC": SAMPLE[:-600],
    "odd.ARC": archive([(b"A", 5, 5, 0), (b"B\x01", 5, 4, 0), (b"C", 1, 1, 9)]) + b"\x00" * 40,
    "badsig.ARC": archive([(b"X", 1, 1, 0)], signature=b"SPIZ\x1a"),
    "badtype.ARC": archive([(b"X", 1, 1, 0)], archive_type=2),
    "badmethod.ARC": archive([(b"X", 1, 1, 0)], identifier=b"QQQ"),
    "short.ARC": SAMPLE[:30],
}


@pytest.fixture
def samples(tmp_path):
    for name, data in SAMPLES.items():
        (tmp_path / name).write_bytes(data)
    return tmp_path


def renamed(listing, name):
    return {**listing, "file": name, "listed": name if listing["listed"] is not None else None}


def entries_of(source):
    with vexmira.iter_entries(source) as entries:
        listed = [*entries]
        return listed, entries.summary


def outcome(call, *args):
    try:
        return call(*args)
    except vexmira.Error as error:
        return type(error), str(error).replace("<file object>", "NAME")


def test_file_objects_list_what_the_same_bytes_on_disk_list(samples):
    local = fsspec.filesystem("file")
    for name, data in SAMPLES.items():
        path = str(samples / name)
        # Named objects are listed as the path itself.
        for opener in (lambda: open(path, "rb"), lambda: local.open(path, "rb"), lambda: open(path, "rb", buffering=0)):
            with opener() as f:
                assert vexmira.json_lines(f) == vexmira.json_lines(path), name
            with opener() as f:
                assert outcome(vexmira.list, f) == outcome(vexmira.list, path), name
            with opener() as f:
                assert outcome(entries_of, f) == outcome(entries_of, path), name
        # A nameless object is located, as a file whose name is not .ARC.
        carrier = samples / (name + ".bin")
        carrier.write_bytes(data)
        expected = outcome(vexmira.list, str(carrier))
        got = outcome(vexmira.list, io.BytesIO(data))
        if isinstance(got, dict):
            assert renamed(got, str(carrier)) == expected, name
            assert got["file"] == "<file object>"
        else:
            assert got == (expected[0], expected[1].replace(str(carrier), "NAME")), name
        assert outcome(vexmira.locate, io.BytesIO(data)) == outcome(vexmira.locate, str(carrier)), name
        assert outcome(vexmira.candidates, io.BytesIO(data)) == outcome(vexmira.candidates, str(carrier)), name
        assert outcome(entries_of, io.BytesIO(data)) == outcome(entries_of, str(carrier)), name


class Trickle(io.RawIOBase):
    """A file object that hands over at most three bytes a read, and says how much it was asked."""

    def __init__(self, data):
        self.data, self.position, self.delivered = data, 0, 0

    def readable(self):
        return True

    def seekable(self):
        return True

    def seek(self, offset, whence=0):
        self.position = offset if whence == 0 else len(self.data) + offset if whence == 2 else self.position + offset
        return self.position

    def readinto(self, buffer):
        chunk = self.data[self.position:self.position + min(3, len(buffer))]
        buffer[:len(chunk)] = chunk
        self.position += len(chunk)
        self.delivered += len(chunk)
        return len(chunk)


class Hostile(io.BytesIO):
    def __init__(self, data, how):
        super().__init__(data)
        self.how, self.kept = how, None

    def readinto(self, buffer):
        if self.how == "raises":
            raise RuntimeError("disk on fire")
        if self.how == "too much":
            return len(buffer) + 1
        if self.how == "keeps":
            self.kept = memoryview(buffer)[0:4]  # a view that outlives the call
        if self.how == "not a count":
            return "12"
        return super().readinto(buffer)

    def read(self, size=-1):
        if self.how == "str":
            return "text"
        return super().read(size)


class ReadOnly:
    """Has read and seek, no readinto."""

    def __init__(self, data, result=None):
        self.inner, self.result = io.BytesIO(data), result

    def read(self, size=-1):
        return self.result if self.result is not None else self.inner.read(size)

    def seek(self, offset, whence=0):
        return self.inner.seek(offset, whence)


def test_short_reads_are_fine_and_hostile_objects_raise_open_errors():
    data = STUB + SAMPLE
    expected = vexmira.list(io.BytesIO(data))
    trickle = Trickle(data)
    assert vexmira.list(trickle) == expected
    assert vexmira.list(ReadOnly(data)) == expected
    keeper = Hostile(data, "keeps")
    assert vexmira.list(keeper) == expected
    keeper.kept[:] = b"SPIS"  # writes into what it was given, harming nothing
    assert vexmira.list(io.BytesIO(data)) == expected
    reasons = {
        "raises": "RuntimeError: disk on fire",
        "too much": "readinto() returned 4097 for 4096 bytes asked",
        "not a count": "readinto() returned str, not a byte count",
    }
    for how, reason in reasons.items():
        for call in (vexmira.list, vexmira.json_lines, vexmira.locate, vexmira.candidates, entries_of,
                     lambda f: vexmira.json_part(f, limit=10)):
            with pytest.raises(vexmira.OpenError) as raised:
                call(Hostile(data, how))
            assert str(raised.value).startswith('Cannot read file "<file object>". ' + reason), (how, str(raised.value))
        if how == "raises":
            assert isinstance(raised.value.__cause__, RuntimeError)
    with pytest.raises(vexmira.OpenError, match="read\\(\\) returned str, not bytes"):
        vexmira.list(ReadOnly(data, result="text"))
    with pytest.raises(vexmira.OpenError, match="read\\(\\) returned 5 bytes for 4 asked"):
        vexmira.list(ReadOnly(b"SPIS", result=b"12345"))
    named = ReadOnly(data)
    named.name = "evidence/item.exe"
    assert vexmira.list(named)["file"] == "evidence/item.exe"
    failing = Hostile(data, "raises")
    failing.name = b"evidence/\xffitem.exe"
    with pytest.raises(vexmira.OpenError, match='"evidence/\\\\xffitem.exe"|"evidence/.item.exe"'):
        vexmira.list(failing)


def test_text_mode_and_unseekable_objects_are_refused(tmp_path):
    (tmp_path / "a.ARC").write_bytes(SAMPLE)
    with open(tmp_path / "a.ARC", encoding="latin-1") as text:
        with pytest.raises(TypeError, match="binary mode"):
            vexmira.list(text)
    read_end, write_end = os.pipe()
    os.close(write_end)
    with open(read_end, "rb") as pipe:
        with pytest.raises(vexmira.OpenError, match="cannot seek"):
            vexmira.list(pipe)
    with pytest.raises(TypeError):
        vexmira.list(object())


def sparse_archive(path, entries, stored):
    """An archive whose stored data is holes: large on disk, quick to write."""
    with open(path, "wb") as f:
        f.write(archive([]))
        for i in range(entries):
            name = b"PART%04d.DAT" % i
            f.write(struct.pack("<hIHiiBII", len(name), 0, 0, stored, stored, 0, 0, 0) + name)
            f.seek(stored, 1)
        f.truncate()
    return os.path.getsize(path)


class Counting(io.FileIO):
    """A real file that counts what it delivers, and where it read."""

    def __init__(self, path):
        super().__init__(path, "rb")
        self.delivered, self.spans = 0, []

    def readinto(self, buffer):
        start = self.tell()
        count = super().readinto(buffer)
        self.delivered += count
        if count:
            self.spans.append((start, start + count))
        return count


def test_reads_through_objects_and_http_skip_stored_data(tmp_path):
    size = sparse_archive(tmp_path / "big.ARC", 40, 1 << 20)
    expected = vexmira.json_lines(str(tmp_path / "big.ARC"))
    with Counting(str(tmp_path / "big.ARC")) as f:
        assert vexmira.json_lines(f) == expected
        assert f.delivered < 40 * 8192 < size // 100
    with RangeServer(tmp_path) as server:
        http = fsspec.filesystem("http")
        with http.open(server.url("big.ARC"), "rb", block_size=1 << 16) as f:
            listing = vexmira.list(f)
        direct = vexmira.list(str(tmp_path / "big.ARC"))
        # Nameless over HTTP, so located: the same entries and ends.
        assert listing["entries"] == direct["entries"]
        assert listing["archive_end"] == direct["archive_end"] == size
        assert 0 < server.bytes_sent < size // 10, "stored data is skipped, not fetched"


def joined(source, limit, name=None, reopen=None):
    pieces, tokens, token = [], [], None
    while True:
        piece, token = vexmira.json_part(reopen() if reopen else source, token, limit=limit, name=name)
        pieces.append(piece)
        if token is None:
            return pieces, tokens
        tokens.append(token)


def test_pieces_join_to_the_json_lines_for_any_limit(samples, tmp_path):
    for name in [*SAMPLES, "missing.ARC"]:
        path = str(samples / name)
        whole = vexmira.json_lines(path)
        for limit in (1, 700, 1500, 8 << 20):
            pieces, tokens = joined(path, limit)
            assert b"".join(pieces) == whole, (name, limit)
            assert all(len(t) == len(tokens[0]) for t in tokens)
            if limit == 8 << 20:
                assert len(pieces) == 1
        if name in ("missing.ARC",):
            continue
        # A file object under the path's name: the same bytes.
        with open(path, "rb") as f:
            pieces, _ = joined(f, 1, name=path)
        assert b"".join(pieces) == whole, name
    # Each piece of a listing of several entries holds at least one.
    pieces, tokens = joined(str(samples / "a.ARC"), 1)
    assert len(pieces) == 4 and all(b'"name":' in p for p in pieces[:3])
    # The HTTP form under its URL equals the file listed under that name.
    with RangeServer(samples) as server:
        url = server.url("setup.exe")
        http = fsspec.filesystem("http")
        pieces, _ = joined(None, 600, name=url, reopen=lambda: http.open(url, "rb", block_size=4096))
    with open(samples / "setup.exe", "rb") as f:
        assert b"".join(pieces) == vexmira.json_part(f, name=url)[0]
        assert b'"file":"' + url.encode() + b'"' in pieces[0]


def test_tokens_are_checked_before_they_are_trusted(samples):
    path = str(samples / "a.ARC")
    piece, token = vexmira.json_part(path, limit=1)
    assert token is not None and len(token) < 200
    for damaged in (token[:-1], token + b"\x00", token[:20] + bytes([token[20] ^ 1]) + token[21:], b"", token[:4] + bytes(len(token) - 4)):
        with pytest.raises(ValueError):
            vexmira.json_part(path, damaged, limit=1)
    (samples / "b.ARC").write_bytes(SAMPLE + b"\x00")
    with pytest.raises(ValueError, match="file of"):
        vexmira.json_part(str(samples / "b.ARC"), token, name=path)
    (samples / "c.ARC").write_bytes(SAMPLE)
    with pytest.raises(ValueError):
        vexmira.json_part(str(samples / "c.ARC"), token)  # same size, another name
    with pytest.raises(TypeError):
        vexmira.json_part(path, "text")
    with pytest.raises(ValueError):
        vexmira.json_part(path, limit=0)


def test_a_long_listing_comes_in_pieces_each_reading_its_own_part(tmp_path):
    count = 200_000
    path = tmp_path / "many.ARC"
    with open(path, "wb") as f:
        f.write(archive([]))
        for i in range(count):
            name = b"F%07d.TXT" % i
            f.write(struct.pack("<hIHiiBII", len(name), 0, 0, 10, 0, 4, 0, 0) + name)
    size = os.path.getsize(path)
    whole = vexmira.json_lines(str(path))
    limit = 1 << 20
    pieces, spans, token = [], [], None
    while True:
        with Counting(str(path)) as f:
            piece, token = vexmira.json_part(f, token, limit=limit, name=str(path))
            spans.append((list(f.spans), f.delivered))
        pieces.append(piece)
        if token is None:
            break
    total = len(whole)
    assert b"".join(pieces) == whole
    del whole
    assert total // limit <= len(pieces) <= total // limit + 2
    assert all(len(p) < limit + 1000 for p in pieces)
    for k in range(1, len(pieces)):
        # From the entry the last piece stopped after on, and the archive
        # header: a small read to check the token, one more to make the next.
        last_header = int(re.findall(rb'"header_offset":(\d+)', pieces[k - 1])[-1])
        before = [span for span in spans[k][0] if span[0] < last_header]
        assert before == [(0, 4096)] * (1 if k == len(pieces) - 1 else 2), ("a piece reads no more before", before)
    piece_count = len(pieces)
    pieces.clear()
    # Read twice at most, and a token's small check per piece (cleared above, the count was 0 here).
    assert sum(delivered for _, delivered in spans) < 2 * size + piece_count * 4096

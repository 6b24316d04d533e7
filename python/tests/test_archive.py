"""vexmira.open() and the functional layer beside the tool: the same object,
entries, carves and refusals, and errors a Python caller expects. Archives
are built here byte by byte from the layout."""
import errno
import hashlib
import io
import json
import mmap
import os
import subprocess
import sys

import pytest

import vexmira
from test_module import STUB, archive

VEXMIRA = os.environ["VEXMIRA"]
SAMPLE = archive([(b"README.TXT", 5120, 2210, 4), (b"LOGO.BMP", 300, 300, 0), (b"caf\xe9.INI", 812, 530, 1),
                  (b"ODD", 10, 10, 9)])
CUS = archive([(b"ONE", 1, 1, 0)], b"CUS")  # a header the locator passes over


def tool(*args, cwd):
    result = subprocess.run([VEXMIRA, "--json", "--quiet", *args], cwd=cwd, capture_output=True, check=False)
    return [json.loads(line) for line in result.stdout.decode().splitlines()]


@pytest.fixture
def files(tmp_path):
    (tmp_path / "a.ARC").write_bytes(SAMPLE)
    (tmp_path / "setup.exe").write_bytes(STUB + SAMPLE + bytes(60))
    (tmp_path / "plain.exe").write_bytes(STUB)
    (tmp_path / "empty.exe").write_bytes(STUB + archive([]))
    (tmp_path / "both.exe").write_bytes(STUB + CUS + b"\xff" * 9000 + SAMPLE)
    return tmp_path


def test_an_archive_is_the_tools_object_with_entry_objects(files):
    for name in ["a.ARC", "setup.exe", "plain.exe", "both.exe"]:
        expected = tool("--in-place", str(files / name), cwd=files)[0]
        with vexmira.open(str(files / name)) as opened:
            for key in ["file", "path_encoding", "listed", "offset", "located", "passed_over", "messages",
                        "plausible_end", "archive_end", "truncated"]:
                assert getattr(opened, key) == expected[key], (name, key)
            entries = list(opened)
            assert [e.to_dict() for e in entries] == vexmira.list(str(files / name))["entries"], name
            assert json.loads(opened.to_json()) == expected, name
            plausible = [e.name for e in opened.entries()]
            assert plausible == [e["name"] for e in expected["entries"][:len(plausible)]]
            assert all(e["suspect"] is None for e in expected["entries"][:len(plausible)])
            if len(plausible) < len(entries):
                assert entries[len(plausible)].suspect is not None, name
    with vexmira.open(str(files / "setup.exe")) as opened:
        readme, logo, cafe, odd, padding, *_ = opened
    assert (cafe.name, cafe.name_bytes) == ("caf\xe9.INI", b"caf\xe9.INI")
    assert [e.method_id for e in (readme, logo, cafe, odd)] == ["LH5", "NON", "RLE", None]
    assert (readme.method_name, readme.header_offset, readme.data_offset) == ("LZH5", 40021, 40021 + 25 + 10)
    assert repr(readme) == "<Entry name='README.TXT' method_id='LH5' full_size=5120 compressed_size=2210>"
    assert repr(padding).endswith("suspect='empty name'>")
    with pytest.raises(AttributeError):
        readme.name = "x"
    with pytest.raises(ValueError, match="closed"):
        list(opened)


def test_open_reads_paths_file_objects_and_data_in_memory(files):
    data = (files / "setup.exe").read_bytes()
    by_path = [e.to_dict() for e in vexmira.open(str(files / "setup.exe"))]
    with open(files / "setup.exe", "rb") as mapped_file:
        mapped = mmap.mmap(mapped_file.fileno(), 0, access=mmap.ACCESS_READ)
        # An mmap has read() and seek() too, but its seek() returns None.
        for source in [io.BytesIO(data), bytearray(data), memoryview(data), mapped]:
            opened = vexmira.open(source)
            assert (opened.offset, opened.located) == (40000, True)
            assert [e.to_dict() for e in opened] == by_path
            opened.close()
        mapped.close()
    at = vexmira.open(bytearray(data), offset=40000)
    assert (at.offset, at.located) == (40000, None)
    entries = iter(at)
    assert len(list(at)) == len(by_path)
    at.close()
    with pytest.raises(ValueError, match="closed"):
        next(entries)  # an iterator never reopens what its archive closed
    with pytest.raises(ValueError, match="past the end"):
        vexmira.open(bytearray(data), offset=len(data) + 1)


def test_errors_are_oserrors_and_value_errors_where_python_expects_them(files):
    missing = str(files / "missing.ARC")
    with pytest.raises(FileNotFoundError) as raised:
        vexmira.open(missing)
    error = raised.value
    assert isinstance(error, vexmira.OpenError) and isinstance(error, vexmira.Error)
    assert (error.errno, error.strerror, error.filename) == (errno.ENOENT, os.strerror(errno.ENOENT), missing)
    assert str(error) == tool(missing, cwd=files)[0]["error"]
    with pytest.raises(IsADirectoryError):
        vexmira.list(str(files))
    (files / "sig.ARC").write_bytes(archive([(b"A", 1, 1, 0)], signature=b"SPIS\x00"))
    with pytest.raises(ValueError) as raised:
        vexmira.open(str(files / "sig.ARC"))
    assert isinstance(raised.value, vexmira.InvalidHeaderError)
    assert str(raised.value) == tool(str(files / "sig.ARC"), cwd=files)[0]["error"]


def test_carve_follows_the_tools_rules_and_writer(files, tmp_path):
    # An archive header without an entry: the tool refuses, and so does the module.
    refusal = tool("--carve", "empty.exe", cwd=files)[0]["error"]
    assert "Nothing to carve" in refusal
    with pytest.raises(vexmira.CreateError, match="Nothing to carve"):
        vexmira.carve(str(files / "empty.exe"), 40000, str(tmp_path / "out"))
    with vexmira.open(str(files / "empty.exe")) as opened, pytest.raises(vexmira.CreateError, match="Nothing to carve"):
        opened.carve(str(tmp_path / "out"))
    # A missing out_dir is made; the bytes are the tool's.
    out = tmp_path / "made" / "below"
    carved = vexmira.carve(str(files / "setup.exe"), 40000, str(out))
    tool_out = tmp_path / "tool"
    tool("--carve", "--output-dir", str(tool_out), "setup.exe", cwd=files)
    with open(carved, "rb") as ours, open(tool_out / "setup.exe.00009C40.ARC", "rb") as theirs:
        assert ours.read() == theirs.read()
    # An existing file is kept without force, replaced with it.
    with open(carved, "wb") as f:
        f.write(b"keep")
    with pytest.raises(FileExistsError) as raised:
        vexmira.carve(str(files / "setup.exe"), 40000, str(out))
    assert isinstance(raised.value, vexmira.CreateError)
    assert (files / "setup.exe").read_bytes()[40000:40004] != b"keep"
    with open(carved, "rb") as f:
        assert f.read() == b"keep"
    assert vexmira.open(str(files / "setup.exe")).carve(str(out), force=True) == carved
    with open(carved, "rb") as f:
        assert f.read() != b"keep"
    # An archive listed directly is not carved, as the tool does not carve it.
    assert vexmira.open(str(files / "a.ARC")).carve(str(out)) is None


def test_locate_candidates_and_scan_say_what_the_listings_say(files):
    assert vexmira.locate(str(files / "plain.exe"))["offset"] is None
    listed = tool("--all", "both.exe", cwd=files)
    assert [o["passed_over"] for o in listed] == ["CUS identifier", None]
    assert vexmira.candidates(str(files / "both.exe")) == [o["offset"] for o in listed]
    scanned = vexmira.scan(str(files / "both.exe"))
    assert [(a.offset, a.located, a.passed_over) for a in scanned] == \
        [(o["offset"], o["located"], o["passed_over"]) for o in listed]
    assert [e.name for e in scanned[0]] == ["ONE"]
    assert vexmira.open(str(files / "both.exe")).candidates() == \
        [{"offset": o["offset"], "passed_over": o["passed_over"]} for o in listed]


def test_every_public_name_says_what_it_is_at_runtime():
    for name in vexmira.__all__:
        if name.startswith("_") or name in ("schema_version", "method_ids"):  # data
            continue
        value = getattr(vexmira, name)
        assert value.__doc__, name
        if isinstance(value, type) and not issubclass(value, BaseException):
            for member, attribute in vars(value).items():
                if not member.startswith("_"):
                    assert attribute.__doc__, f"{name}.{member}"


def test_the_triage_example_runs_on_a_folder_of_carriers(files, tmp_path):
    example = os.path.join(os.path.dirname(__file__), "..", "examples", "triage.py")
    out = tmp_path / "carved"
    result = subprocess.run([sys.executable, example, str(files), str(out)], capture_output=True, text=True,
                            check=False, timeout=120)
    assert result.returncode == 0, result.stderr
    assert "setup.exe" in result.stdout and "carved " in result.stdout
    assert f"  LOGO.BMP {hashlib.sha256(bytes([0xEE]) * 300).hexdigest()}\n" in result.stdout
    carved = [os.path.join(root, name) for root, _, names in os.walk(out) for name in names]
    # Every file holding SAMPLE, whose method-9 entry is suspect; empty.exe has no entry to be suspect.
    assert sorted(os.path.basename(path) for path in carved) == \
        ["a.ARC.00000000.ARC", "both.exe.0000BF9A.ARC", "setup.exe.00009C40.ARC"]
    with open(next(path for path in carved if "setup" in path), "rb") as f:  # to the plausible end
        assert f.read() == (files / "setup.exe").read_bytes()[40000:40000 + 21 + 35 + 2210 + 33 + 300 + 33 + 530]


def test_a_listing_of_many_batches_keeps_its_head(tmp_path):
    # More entries than one batch of the walk: the head is the one the listing began with, not a
    # resumed batch's (which has no archive header and no messages).
    many = archive([(b"F%05d" % k, 10, 3, 0) for k in range(5000)])
    path = tmp_path / "many.exe"
    path.write_bytes(STUB + many)
    expected = tool("--in-place", str(path), cwd=tmp_path)[0]
    listed = vexmira.list(str(path))
    assert {key: value for key, value in listed.items() if key != "entries"} == \
        {key: value for key, value in expected.items() if key != "entries"}
    with vexmira.open(str(path)) as opened:
        assert opened.plausible_end == expected["plausible_end"]  # walks to the end first
        for key in ["compress_id", "archive_header_size", "passed_over_count", "messages", "located"]:
            assert getattr(opened, key) == expected[key], key

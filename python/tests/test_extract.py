"""Archive.extract() beside the tool's --extract: the same files, byte for
byte, under the same safe names, and the same refusal of what is there.
Archives are built here byte by byte from the layout, each entry's stored
bytes its own."""
import io
import json
import os
import struct
import subprocess

import pytest

import vexmira

VEXMIRA = os.environ["VEXMIRA"]
STUB = b"MZ" + b"\x90" * 39998  # the archive lies at 40000 (00009C40)
HOSTILE = [b"../../escape.txt", b"/etc/passwd", b"C:\\x.dll", b"CON", b"aux.txt", b"A.TXT", b"a.txt", b"t\ta\x01b",
           b"L" * 300, b""]


def archive(entries):
    """entries: (name, full size, method, stored bytes)."""
    parts = [b"SPIS\x1aLZH" + struct.pack("<iBII", 0, 1, 0, 0)]
    for name, full, method, data in entries:
        parts.append(struct.pack("<hIHiiBII", len(name), 0, 0, full, len(data), method, 0, 0) + name + data)
    return b"".join(parts)


def data(index, size):
    return bytes((index * 37 + i * 11 + (i >> 8)) & 0xFF for i in range(size))


ENTRIES = [(b"README.TXT", 3000, 0, data(1, 3000)), (b"SETUP.INI", 812, 1, data(2, 530)),
           (b"BIG.LH5", 9000, 4, data(3, 4100))] + [(name, 10, 0, data(10 + i, 10)) for i, name in enumerate(HOSTILE)]


def tree(root):
    """Every file below root, relative, with its bytes."""
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as opened:
                found[os.path.relpath(path, root)] = opened.read()
    return found


@pytest.fixture
def setup_exe(tmp_path, monkeypatch):
    (tmp_path / "setup.exe").write_bytes(STUB + archive(ENTRIES))
    monkeypatch.chdir(tmp_path)  # the file named alike by both, relative
    return tmp_path


def test_the_files_and_manifest_are_the_tools_byte_for_byte(setup_exe):
    run = subprocess.run([VEXMIRA, "--quiet", "--extract", "by-tool", "--include-suspect", "setup.exe"],
                         capture_output=True, check=False)
    assert run.returncode == 0, run
    with vexmira.open("setup.exe") as opened:
        written = opened.extract("by-module", include_suspect=True)
    by_tool, by_module = tree(setup_exe / "by-tool"), tree(setup_exe / "by-module")
    assert by_module == by_tool
    # Nothing anywhere else: the hostile names stayed inside the folder.
    assert set(tree(setup_exe)) == {"setup.exe"} | {os.path.join("by-tool", p) for p in by_tool} | {
        os.path.join("by-module", p) for p in by_module}
    folder = os.path.join("setup.exe.extracted", "00009C40")
    manifest = [json.loads(line) for line in by_module[os.path.join(folder, "manifest.jsonl")].splitlines()]
    assert [bytes.fromhex(line["name_bytes"]) for line in manifest] == [name for name, *_ in ENTRIES]
    # The list returned: each file written, in entry order; each holds the entry's stored bytes.
    assert written == [os.path.join("by-module", folder, line["path"]) for line in manifest]
    for line, (name, _, _, stored) in zip(manifest, ENTRIES):
        assert by_module[os.path.join(folder, line["path"])] == stored, name
    assert [line["path"] for line in manifest[:3]] == ["README.TXT", "SETUP.INI.rle.raw", "BIG.LH5.lh5.raw"]
    assert len({line["path"].lower() for line in manifest}) == len(ENTRIES)  # unique, case folded too
    for line in manifest:
        assert "/" not in line["path"] and "\\" not in line["path"] and line["path"] not in ("", ".", ".."), line


def test_suspect_entries_are_only_in_the_manifest_without_include_suspect(setup_exe):
    with vexmira.open("setup.exe") as opened:
        written = opened.extract("out")
    folder = os.path.join("out", "setup.exe.extracted", "00009C40")
    with open(os.path.join(folder, "manifest.jsonl"), "rb") as opened:
        manifest = [json.loads(line) for line in opened]
    assert len(manifest) == len(ENTRIES)
    suspect = [line for line in manifest if line["entry"]["suspect"] is not None]
    assert suspect and all(line["path"] is None and "--include-suspect" in line["error"] for line in suspect)
    assert written == [os.path.join(folder, line["path"]) for line in manifest if line["path"] is not None]


def test_what_is_there_is_kept_without_force(setup_exe):
    with vexmira.open(os.fsencode("setup.exe")) as opened:
        first = opened.extract(b"out")
        assert first[0] == os.path.join(b"out", b"setup.exe.extracted", b"00009C40", b"README.TXT")
        with open(first[0], "wb") as mine:
            mine.write(b"mine")
        with pytest.raises(vexmira.CreateError) as refused:
            opened.extract(b"out")
        assert isinstance(refused.value, FileExistsError)
        assert "--force replaces it" in str(refused.value)
        with open(first[0], "rb") as mine:
            assert mine.read() == b"mine"
        assert opened.extract(b"out", force=True) == first
    with open(first[0], "rb") as replaced:
        assert replaced.read() == ENTRIES[0][3]
    with pytest.raises(ValueError):
        opened.extract("again")  # closed


def test_data_in_memory_and_a_file_object_are_written_as_the_file_is(setup_exe):
    # Neither is a file the system can copy from: their bytes go through a buffer.
    data = (setup_exe / "setup.exe").read_bytes()
    with vexmira.open("setup.exe") as opened:
        opened.extract("disk", include_suspect=True)
    expected = tree(setup_exe / "disk" / "setup.exe.extracted")
    with vexmira.open(bytearray(data)) as opened:
        opened.extract("memory", include_suspect=True)
    assert tree(setup_exe / "memory" / "<bytes>.extracted") == expected
    with vexmira.open(io.BytesIO(data)) as opened:
        opened.extract("object", include_suspect=True)
    assert tree(setup_exe / "object" / "<file object>.extracted") == expected

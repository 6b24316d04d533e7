"""import vexmira beside the command-line tool: the same listings, errors of
the module's own classes, and iteration over millions of entries in bounded
memory. Archives are built here byte by byte from the layout."""
import json
import os
import struct
import subprocess
import sys

import jsonschema
import pytest

import vexmira

VEXMIRA = os.environ["VEXMIRA"]
SCHEMA = os.environ["VEXMIRA_SCHEMA"]
STUB = b"MZ" + b"\x90" * 39998


def archive(entries, identifier=b"LZH", archive_type=1, signature=b"SPIS\x1a"):
    # Joined once: adding to bytes copies them, which is quadratic over 100,000 entries.
    parts = [signature + identifier + struct.pack("<iBII", 0, archive_type, 0, 0)]
    for name, full, stored, method in entries:
        parts.append(struct.pack("<hIHiiBII", len(name), 0, 0, full, stored, method, 0, 0) + name + b"\xee" * max(stored, 0))
    return b"".join(parts)


SAMPLE = archive([(b"README.TXT", 5120, 2210, 4), (b"LOGO.BMP", 300, 300, 0), (b"caf\xe9.INI", 812, 530, 1)])


def cli(*args, cwd):
    result = subprocess.run([VEXMIRA, "--json", "--quiet", *args], cwd=cwd, capture_output=True, check=False)
    return [json.loads(line) for line in result.stdout.decode().splitlines()]


def without_name_bytes(listing):
    return {**listing, "entries": [{k: v for k, v in e.items() if k != "name_bytes"} for e in listing["entries"]]}


@pytest.fixture
def files(tmp_path):
    (tmp_path / "a.ARC").write_bytes(SAMPLE)
    (tmp_path / "setup.exe").write_bytes(STUB + SAMPLE + bytes(60))
    (tmp_path / "plain.exe").write_bytes(STUB)
    (tmp_path / "multi.exe").write_bytes(STUB + SAMPLE + b"\xff" * 9000 + archive([(b"TWO", 1, 1, 0)], b"NON"))
    return tmp_path


def test_listings_agree_with_the_tool_and_the_schema(files):
    with open(SCHEMA, encoding="utf-8") as f:
        validator = jsonschema.Draft202012Validator(json.load(f))
    for name in ["a.ARC", "setup.exe", "plain.exe", "multi.exe"]:
        listing = vexmira.list(str(files / name))
        expected = cli("--in-place", str(files / name), cwd=files)[0]
        assert without_name_bytes(listing) == expected, name
        validator.validate(without_name_bytes(listing))
    listing = vexmira.list(str(files / "setup.exe"))
    assert [e["name_bytes"] for e in listing["entries"]][:3] == [b"README.TXT", b"LOGO.BMP", b"caf\xe9.INI"]
    assert listing["entries"][3]["suspect"] == "empty name"  # the zero padding
    assert listing["plausible_end"] == 40000 + len(SAMPLE)
    # Entry by entry, the same keys and values as the listing.
    assert list(vexmira.iter_entries(str(files / "setup.exe"))) == listing["entries"]


def test_paths_as_bytes_or_str_and_bytes_in_memory(files):
    raw = os.fsencode(str(files)) + b"/caf\xe9.ARC"
    with open(raw, "wb") as f:
        f.write(SAMPLE)
    by_bytes = vexmira.list(raw)
    by_str = vexmira.list(os.fsdecode(raw))
    assert by_bytes == by_str
    assert by_bytes["path_encoding"] == "latin-1"
    in_memory = vexmira.list_bytes(STUB + SAMPLE, 40000)
    assert [e["name_bytes"] for e in in_memory["entries"]] == [e["name_bytes"] for e in by_bytes["entries"][:3]]
    assert in_memory["entries"][0]["header_offset"] == 40000 + 21


def test_locate_candidates_and_carve(files, tmp_path):
    assert vexmira.locate(str(files / "setup.exe")) == {"offset": 40000, "offset_text": "00009C40 - 39 Kb"}
    # None, as the listings say null: -1 read as an offset would pass for a number.
    assert vexmira.locate(str(files / "plain.exe")) == {"offset": None, "offset_text": "Not found"}
    offsets = vexmira.candidates(str(files / "multi.exe"))
    assert offsets == [o["offset"] for o in cli("--all", str(files / "multi.exe"), cwd=files)]
    assert len(offsets) == 2
    out = tmp_path / "out"
    out.mkdir()
    carved = vexmira.carve(str(files / "setup.exe"), 40000, str(out))
    assert carved.endswith("setup.exe.00009C40.ARC")
    with open(carved, "rb") as f:
        assert f.read() == SAMPLE
    assert not os.path.exists(str(files / "setup.exe$$$")), "nothing but carve writes"


def test_errors_raise_the_modules_classes_with_the_tools_messages(files):
    cases = {
        "missing.ARC": (vexmira.OpenError, None),
        "sig.ARC": (vexmira.InvalidHeaderError, archive([(b"A", 1, 1, 0)], signature=b"SPIS\x00")),
        "type.ARC": (vexmira.ArchiveTypeError, archive([(b"A", 1, 1, 0)], archive_type=0)),
        "id.ARC": (vexmira.CompressionMethodError, archive([(b"A", 1, 1, 0)], identifier=b"\xe9zz")),
    }
    for name, (error, data) in cases.items():
        if data is not None:
            (files / name).write_bytes(data)
        expected = cli(str(files / name), cwd=files)[0]["error"]
        with pytest.raises(error) as raised:
            vexmira.list(str(files / name))
        assert isinstance(raised.value, vexmira.Error)
        assert str(raised.value) == expected, name


def test_iter_entries_runs_through_millions_in_bounded_memory(tmp_path):
    count = 2_000_000
    path = tmp_path / "many.ARC"
    with open(path, "wb") as f:
        f.write(archive([]))
        for i in range(0, count, 10_000):
            f.write(b"".join(struct.pack("<hIHiiBII", 12, 0, 0, k, 0, 1, 0, 0) + b"F%011d" % k for k in range(i, i + 10_000)))
    # In a child, so that its peak resident size is its own.
    script = f"""
import vexmira
it = vexmira.iter_entries({str(path)!r})
n = 0
for entry in it:
    n += 1
    last = entry
assert n == {count}, n
assert last["name_bytes"] == b"F%011d" % ({count} - 1)
assert it.summary["entries"] == {count} and it.summary["truncated"] is False
with vexmira.open({str(path)!r}) as opened:
    assert sum(1 for _ in opened) == {count}
    assert opened.archive_end == opened.plausible_end
# This process's own peak: ru_maxrss would also count what the parent held when it forked.
print(next(int(line.split()[1]) for line in open("/proc/self/status") if line.startswith("VmHWM:")))
"""
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, check=True, text=True)
    peak_kib = int(result.stdout.strip())
    assert peak_kib < 150 * 1024, f"peak resident size {peak_kib} KiB"


def test_a_nul_byte_in_a_path_is_refused_never_cut(files):
    for call in [vexmira.list, vexmira.locate, vexmira.candidates, vexmira.json_lines, vexmira.iter_entries]:
        for path in [str(files / "a.ARC") + "\0.exe", os.fsencode(str(files / "a.ARC")) + b"\0zzz"]:
            with pytest.raises(ValueError, match=r"NUL byte.*\\x00"):
                call(path)
    with pytest.raises(ValueError, match="NUL byte"):
        vexmira.carve(str(files / "setup.exe"), 40000, str(files) + "\0out")


def open_descriptors_of(path):
    fds = "/proc/self/fd"
    found = 0
    for fd in os.listdir(fds):
        try:
            found += os.readlink(os.path.join(fds, fd)) == str(path)
        except OSError:
            pass
    return found


def test_an_abandoned_iterator_releases_its_file(tmp_path):
    path = tmp_path / "big.ARC"
    path.write_bytes(archive([(b"F%05d" % k, k, 0, 1) for k in range(20_000)]))
    it = vexmira.iter_entries(str(path))
    assert next(it)["name"] == "F00000"
    assert open_descriptors_of(path) == 1
    it.close()
    assert open_descriptors_of(path) == 0
    assert list(it) == [] and it.summary is None
    with vexmira.iter_entries(str(path)) as held:
        for entry in held:
            break
        assert open_descriptors_of(path) == 1
    assert open_descriptors_of(path) == 0
    for entry in vexmira.iter_entries(str(path)):  # collected once the loop is left
        break
    assert open_descriptors_of(path) == 0
    with vexmira.iter_entries(str(path)) as whole:
        assert sum(1 for _ in whole) == 20_000 and whole.summary["entries"] == 20_000


def test_buffers_are_read_in_place_and_a_wrong_type_is_told_briefly(tmp_path):
    import mmap

    data = STUB + SAMPLE
    expected = vexmira.list_bytes(data, 40000)
    (tmp_path / "d").write_bytes(data)
    with open(tmp_path / "d", "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as mapped:
        assert vexmira.list_bytes(mapped, 40000) == expected
    held = bytearray(data)
    assert vexmira.list_bytes(held, 40000) == expected
    assert vexmira.list_bytes(memoryview(held)[40000:]) == vexmira.list_bytes(data[40000:])
    for wrong in ["x" * 100_000, [1] * 100_000, memoryview(held)[::2]]:
        with pytest.raises(TypeError) as raised:
            vexmira.list_bytes(wrong)
        assert len(str(raised.value)) < 200 and "bytes-like" in str(raised.value)


def test_every_allocation_failure_is_the_modules_out_of_memory_error(tmp_path):
    many = tmp_path / "many.exe"
    many.write_bytes(b"MZ" + archive([]) * 1_000_000)  # a million candidates
    listing = tmp_path / "long.ARC"
    listing.write_bytes(archive([(b"N%07d" % k, k, 0, 1) for k in range(100_000)]))
    # Address space for the module and the core's own results, not for their Python form.
    script = f"""
import resource, vexmira
used = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (used + 24 * 2**20, resource.RLIM_INFINITY))
for call, path in [(vexmira.candidates, {str(many)!r}), (vexmira.list, {str(listing)!r})]:
    try:
        call(path)
        print("no failure")
    except vexmira.OutOfMemoryError as error:
        assert isinstance(error, MemoryError) and str(error) == "Out of memory", error
        print("OutOfMemoryError")
"""
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=False, timeout=120)
    assert result.stdout.split() == ["OutOfMemoryError", "OutOfMemoryError"], result.stderr[-2000:]


def test_the_first_allocation_failure_of_an_interpreter_raises_in_any_thread(tmp_path):
    # Ten million candidates: their offsets and their Python list need more
    # than the limit. Nothing was raised in the process before, in either
    # thread, so the first throw of each finds no exception state made yet.
    many = tmp_path / "many.bin"
    with open(many, "wb") as f:
        for _ in range(10):
            f.write(b"SPIS\x1aLZH\x00" * 1_000_000)
    script = f"""
import resource, threading, vexmira
resource.setrlimit(resource.RLIMIT_AS, (300 << 20, resource.RLIM_INFINITY))
def call():
    try:
        print(len(vexmira.candidates({str(many)!r})), flush=True)
    except vexmira.OutOfMemoryError as error:
        print(type(error).__name__, error, flush=True)
call()
thread = threading.Thread(target=call)
thread.start()
thread.join()
"""
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=False, timeout=120)
    assert (result.returncode, result.stdout.splitlines()) == (0, ["OutOfMemoryError Out of memory"] * 2), \
        (result.returncode, result.stdout, result.stderr[-2000:])


def test_the_version_the_stub_and_where_it_was_imported_from():
    import ast

    tool = subprocess.run([VEXMIRA, "--version"], capture_output=True, text=True, check=True).stdout.split()
    assert tool == ["vexmira", vexmira.__version__]
    installed = os.environ.get("VEXMIRA_INSTALLED_PREFIX")
    if installed:
        assert os.path.realpath(vexmira.__file__).startswith(os.path.realpath(installed) + os.sep), vexmira.__file__
    package = os.path.dirname(vexmira.__file__)
    assert os.path.exists(os.path.join(package, "py.typed"))
    with open(os.path.join(package, "__init__.pyi"), encoding="utf-8") as f:
        stub = ast.parse(f.read())
    def typing_only(node):  # a Protocol exists for type checkers alone
        return isinstance(node, ast.ClassDef) and any(getattr(base, "id", None) == "Protocol" for base in node.bases)

    stubbed = {node.name: node for node in stub.body
               if isinstance(node, (ast.FunctionDef, ast.ClassDef)) and not typing_only(node)}
    public = {name for name in vexmira.__all__ if not name.startswith("_") and name not in ("schema_version", "method_ids")}
    assert public == set(stubbed)
    for name, node in stubbed.items():
        assert ast.get_docstring(node) or all(ast.get_docstring(m) for m in node.body if isinstance(m, ast.FunctionDef)
                                              and not m.name.startswith("__")), name
        if isinstance(node, ast.FunctionDef):
            # pybind11 puts "name(arg: type, ...) -> type" first in the docstring.
            signature = getattr(vexmira, name).__doc__.splitlines()[0]
            names = [part.split(":")[0].strip() for part in signature[len(name) + 1:signature.index(")")].split(",")]
            assert [n for n in names if n != "*"] == [a.arg for a in node.args.args + node.args.kwonlyargs], name

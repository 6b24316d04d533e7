"""vexmira.dask and vexmira-dask on a local cluster of two worker processes:
the same listings as `vexmira --json --in-place`, in the same order, whole
even when they come back in many parts (a killed worker: test_cluster.py)."""
import json
import os
import struct
import subprocess
import sys

import pytest

distributed = pytest.importorskip("distributed")

import vexmira.dask  # noqa: E402
from vexmira._dask_cli import Outcome  # noqa: E402

VEXMIRA = os.environ["VEXMIRA"]
# The script beside the sources, or the entry point an install made.
SCRIPT = os.environ.get("VEXMIRA_DASK", os.path.join(os.path.dirname(__file__), "..", "vexmira-dask"))


def archive(entries, identifier=b"LZH", archive_type=1):
    data = b"SPIS\x1a" + identifier + struct.pack("<iBII", 0, archive_type, 0, 0)
    for name, full, stored, method in entries:
        data += struct.pack("<hIHiiBII", len(name), 0, 0, full, stored, method, 0, 0) + name + b"\xee" * stored
    return data


def write_collection(root, count=36):
    """Archives, carriers, files without an archive and broken headers, in three folders."""
    for i in range(count):
        folder = root / f"d{i % 3}"
        folder.mkdir(parents=True, exist_ok=True)
        entries = [(b"FILE%03d.TXT" % k, 100 + k, 50, k % 5) for k in range(i % 9)]
        if i % 6 == 0:
            data, name = archive(entries), f"a{i:02d}.ARC"
        elif i % 6 == 1:
            data, name = b"MZ" + bytes(500), f"p{i:02d}.exe"  # no archive
        elif i % 6 == 2:
            data, name = archive(entries, archive_type=0), f"b{i:02d}.ARC"  # a header error
        else:
            data, name = b"MZ" + b"\x90" * (1000 + i) + archive(entries) + bytes(50), f"s{i:02d}.exe"
        (folder / name).write_bytes(data)
    (root / "d0" / "old.exe$$$").write_bytes(archive([]))
    return root


@pytest.fixture
def collection(tmp_path):
    return write_collection(tmp_path / "in")


@pytest.fixture(scope="module")
def cluster():
    from dask.distributed import Client, LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", scheduler_port=0,
                      dashboard_address=":0") as local, Client(local) as client:
        yield client


def tool(*args, cwd):
    result = subprocess.run([VEXMIRA, "--json", "--in-place", "--quiet", *args], cwd=cwd, capture_output=True,
                            check=False)
    return result.returncode, result.stdout


def tool_entries(lines):
    import pandas

    rows = [{"file": listing["file"], "offset": listing["offset"],
             **{key: entry[key] for key in vexmira.dask.ENTRY_COLUMNS if key not in ("file", "offset")}}
            for listing in map(json.loads, lines.splitlines()) for entry in listing["entries"]]
    return pandas.DataFrame(rows, columns=list(vexmira.dask.ENTRY_COLUMNS)).astype(vexmira.dask.entry_dtypes())


def test_the_frame_and_the_bag_equal_the_tool(collection, cluster, monkeypatch):
    import pandas

    monkeypatch.chdir(collection.parent)
    _, expected = tool("-r", "in", cwd=collection.parent)
    frame = vexmira.dask.entries_frame(["in"], files_per_partition=5)
    assert dict(frame.dtypes.astype(str)) == vexmira.dask.ENTRY_COLUMNS
    got = frame.compute().reset_index(drop=True)
    want = tool_entries(expected)
    assert len(got) > 50
    assert got.equals(want)
    # A missing reason is pandas' own missing value, not None in an object column.
    assert got["suspect"].isna().any() and got["suspect"][got["suspect"].isna()].iloc[0] is pandas.NA

    assert list(got["method_id"].cat.categories) == list(vexmira.method_ids)
    counts = frame.groupby("method_name").size().compute().to_dict()
    assert counts == want["method_name"].value_counts().to_dict() and len(counts) == 4

    listings = vexmira.dask.listings_bag(["in"], files_per_partition=7).compute()
    assert listings == [json.loads(line) for line in expected.splitlines()]


def test_a_file_of_more_entries_than_a_partition_spans_several(tmp_path, cluster):
    import pandas

    many = [(b"M%05d.DAT" % k, 10 + k, k % 4, k % 5) for k in range(2500)]
    (tmp_path / "many.exe").write_bytes(b"MZ" + bytes(700) + archive(many) + bytes(9))
    (tmp_path / "exact.ARC").write_bytes(archive(many[:1000]))  # two runs, no empty third
    # Large enough by its size to hold more than a partition, yet with two entries: walked first, it then
    # shares a partition with the small files after it.
    (tmp_path / "roomy.exe").write_bytes(b"MZ" + bytes(40000) + archive(many[:2]))
    for i in range(3):
        (tmp_path / f"small{i}.exe").write_bytes(b"MZ" + bytes(300) + archive(many[:3]))
    _, expected = tool(str(tmp_path), "-r", cwd=tmp_path)
    want = tool_entries(expected)
    whole = vexmira.dask.entries_frame([tmp_path])
    assert whole.npartitions == 1
    split = vexmira.dask.entries_frame([tmp_path], entries_per_partition=500, files_per_partition=3)
    # exact.ARC: 2, many.exe: 5, roomy.exe with the first two small ones, the last small one.
    assert split.npartitions == 9
    parts = [split.get_partition(i).compute() for i in range(split.npartitions)]
    assert [len(part) for part in parts] == [500, 500, 500, 500, 500, 500, 500, 8, 3]
    got = pandas.concat(parts).reset_index(drop=True)
    assert got.equals(want) and len(got) == 3511
    assert got.equals(whole.compute().reset_index(drop=True))
    assert got["method_id"].dtype == vexmira.dask.entry_dtypes()["method_id"]
    with pytest.raises(ValueError, match="entries_per_partition"):
        vexmira.dask.entries_frame([tmp_path], entries_per_partition=0)


def test_urls_and_prefixes_are_expanded_on_the_client(collection):
    url = collection.as_uri()
    pairs = list(vexmira.dask.expand([url, url + "/d1", str(collection / "d2"), collection / "d2"]))
    names = [name for name, _ in pairs]
    # Each file once in each form, the side file skipped; URLs in byte order.
    assert len(names) == 48 and len(set(names)) == 48
    assert all(name.startswith(url + "/d") for name in names[:36]) and names[:36] == sorted(names[:36])
    assert names[36:] == [str(path) for path in sorted((collection / "d2").iterdir())]
    assert vexmira.dask.entries_frame([url]).compute()["file"].str.startswith("file://").all()
    missing = list(vexmira.dask.expand([url + "/nothing-here"]))
    assert missing == [(url + "/nothing-here", url + "/nothing-here")]
    listing = json.loads(vexmira.dask.json_lines(*missing[0]))
    assert listing["error"] and listing["file"] == url + "/nothing-here"


def test_outcome_reads_status_from_pieces_of_any_size():
    lines = [
        b'{"file":"a \\"error\\":1","offset":0,"entries":[{"name":"\\"offset\\":null"}],"error":null,"x":1}',
        b'{"file":"b","offset":null,"entries":[],"error":null}',
        b'{"file":"c","offset":3,"entries":[],"error":"Archive type must be caMulti"}',
    ]
    for chosen, status in [([0], 0), ([1], 1), ([1, 1], 1), ([0, 1], 0), ([1, 2, 0], 2), ([], 1)]:
        data = b"".join(lines[i] + b"\n" for i in chosen)
        for size in (1, 3, 7, max(len(data), 1)):
            outcome = Outcome()
            for start in range(0, len(data), size):
                outcome.feed(data[start:start + size])
            assert outcome.status == status, (chosen, size)


def script(*args, **kwargs):
    return subprocess.run([sys.executable, SCRIPT, *args], capture_output=True, check=False, timeout=120, **kwargs)


def test_tiny_parts_come_back_whole_and_in_order(collection, cluster):
    # A file named twice is listed once, as the tool does; a missing one is an error line;
    # a name that is not UTF-8 is read as Latin-1.
    (collection.parent / os.fsdecode(b"caf\xe9.ARC")).write_bytes(archive([(b"A", 1, 1, 0)]))
    names = ["in", str(collection / "d1" / "s04.exe"), "missing.exe", b"caf\xe9.ARC"]
    status, expected = tool("-r", *names, cwd=collection.parent)
    assert status == 2 and expected.count(b"\n") == 38 and b'"latin-1"' in expected
    for part_size, batch_size in [(1, 3), (700, 5), (1 << 20, 64)]:
        run = script("--scheduler", cluster.scheduler.address, "--batch-size", str(batch_size), "--part-size",
                     str(part_size), *names, cwd=collection.parent)
        assert run.returncode == status, run.stderr.decode()
        assert run.stdout == expected, part_size


def test_exit_status_follows_the_tool(collection, cluster):
    cases = [(["d1/p01.exe"], 1), (["d1/p01.exe", "d1/p07.exe"], 1), (["d1/p01.exe", "d0/a00.ARC"], 0),
             (["d0/a00.ARC", "d2/b02.ARC", "d1/p07.exe"], 2)]
    for names, status in cases:
        assert tool(*names, cwd=collection)[0] == status
        run = script("--scheduler", cluster.scheduler.address, *names, cwd=collection)
        assert (run.returncode, run.stdout) == tool(*names, cwd=collection), names


def test_a_local_cluster_of_its_own(collection):
    status, expected = tool("-r", "in", cwd=collection.parent)
    run = script("--batch-size", "5", "in", cwd=collection.parent)
    assert run.returncode == status, run.stderr.decode()
    assert run.stdout == expected


def test_its_own_failures_are_one_line(collection, tmp_path):
    cases = [
        (["--batch-size", "x", "in"], 64),
        (["--batch-size", "0", "in"], 64),
        (["--part-size", "0", "in"], 64),
        (["--results-dir", str(tmp_path), "in"], 64),  # gone: nothing is shared through a folder
        ([], 64),
        (["--scheduler", "tcp://127.0.0.1:9", "in"], 2),  # nothing listens on the discard port
    ]
    for args, status in cases:
        run = script(*args, cwd=collection.parent)
        assert run.returncode == status and run.stdout == b"", args
        lines = run.stderr.decode().splitlines()
        assert len(lines) == 1 and lines[0].startswith("vexmira-dask: "), (args, lines)
    helped = script("--help")
    assert helped.returncode == 0 and helped.stdout.count(b"usage:") == 1

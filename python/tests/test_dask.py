"""vexmira-dask on a local cluster of two workers: the same lines as
`vexmira --json -r`, in the same order, even when a worker is
killed in the middle of a batch."""
import os
import signal
import struct
import subprocess
import sys
import time

import pytest

distributed = pytest.importorskip("distributed")

VEXMIRA = os.environ["VEXMIRA"]
SCRIPT = os.path.join(os.path.dirname(__file__), "..", "vexmira-dask")


def archive(entries, identifier=b"LZH", archive_type=1):
    data = b"SPIS\x1a" + identifier + struct.pack("<iBII", 0, archive_type, 0, 0)
    for name, full, stored, method in entries:
        data += struct.pack("<hIHiiBII", len(name), 0, 0, full, stored, method, 0, 0) + name + b"\xee" * stored
    return data


@pytest.fixture
def collection(tmp_path):
    root = tmp_path / "in"
    for i in range(36):
        folder = root / f"d{i % 3}"
        folder.mkdir(parents=True, exist_ok=True)
        entries = [(b"FILE%03d.TXT" % k, 100 + k, 50, 4) for k in range(i % 9)]
        if i % 6 == 0:
            data = archive(entries)
            name = f"a{i:02d}.ARC"
        elif i % 6 == 1:
            data = b"MZ" + bytes(500)  # no archive
            name = f"p{i:02d}.exe"
        elif i % 6 == 2:
            data = archive(entries, archive_type=0)  # a header error
            name = f"b{i:02d}.ARC"
        else:
            data = b"MZ" + b"\x90" * (1000 + i) + archive(entries) + bytes(50)
            name = f"s{i:02d}.exe"
        (folder / name).write_bytes(data)
    (root / "d0" / "old.exe$$$").write_bytes(archive([]))
    return root


@pytest.fixture
def cluster(monkeypatch):
    from dask.distributed import LocalCluster

    # The workers' own environment: batch 2 is slow the first time it runs.
    monkeypatch.setenv("VEXMIRA_DASK_TEST_SLOW_BATCH", "2")
    monkeypatch.setenv("VEXMIRA_DASK_TEST_SLOW_SECONDS", "60")
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", scheduler_port=0,
                      dashboard_address=None) as local:
        yield local


def expected_lines(root):
    result = subprocess.run([VEXMIRA, "--json", "--in-place", "--quiet", "-r", str(root)], cwd=root.parent,
                            capture_output=True, check=False)
    return result.returncode, result.stdout


def test_output_equals_the_tool_and_survives_a_killed_worker(collection, cluster, tmp_path):
    status, expected = expected_lines(collection)
    assert status == 2 and expected.count(b"\n") == 36

    results = tmp_path / "results"
    run = subprocess.Popen([sys.executable, SCRIPT, "--scheduler", cluster.scheduler_address, "--results-dir",
                            str(results), "--batch-size", "4", "in"], cwd=collection.parent,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    # The slow batch says which worker process holds it; that worker dies.
    deadline = time.monotonic() + 60
    marker = None
    while marker is None and time.monotonic() < deadline:
        found = [name for name in os.listdir(results) if name.startswith("slow-")] if results.exists() else []
        marker = found[0] if found else None
        time.sleep(0.05)
    assert marker is not None, "the slow batch never started"
    os.kill(int(marker.split("-")[1]), signal.SIGKILL)

    out, err = run.communicate(timeout=120)
    assert run.returncode == status, err.decode()
    assert out == expected, "the same lines, in the same order, none lost"


def test_a_local_cluster_of_its_own(collection):
    status, expected = expected_lines(collection)
    run = subprocess.run([sys.executable, SCRIPT, "--batch-size", "5", "in"], cwd=collection.parent,
                         capture_output=True, check=False, timeout=120)
    assert run.returncode == status, run.stderr.decode()
    assert run.stdout == expected

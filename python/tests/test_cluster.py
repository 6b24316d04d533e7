"""vexmira-dask on a cluster whose workers share nothing with the client: a
scheduler and two dask-worker processes on 127.0.0.1, each in a mount
namespace of its own where a private tmpfs covers this test's folder (where its
files are), reading the files over HTTP. Run by its own CTest (VEXMIRA_DASK_CLUSTER=1)."""
import hashlib
import json
import os
import signal
import struct
import subprocess
import sys
import time

import pytest

if os.environ.get("VEXMIRA_DASK_CLUSTER") != "1":
    pytest.skip("the cluster test runs on its own (VEXMIRA_DASK_CLUSTER=1)", allow_module_level=True)

distributed = pytest.importorskip("distributed")

sys.path.insert(0, os.path.dirname(__file__))
from range_server import RangeServer  # noqa: E402
from test_dask import SCRIPT, VEXMIRA, write_collection  # noqa: E402

SLOW = "vexmira-dask-test-slow"
PART_SIZE = 8 << 20
HUGE_ENTRIES = 2_000_000
# Python with dask and distributed is some 130 MiB; the listing is over 500 MiB.
CLIENT_BOUND = 256 << 20


def started_scheduler(folder):
    scheduler_file = folder / "scheduler.json"
    process = subprocess.Popen(["dask-scheduler", "--host", "127.0.0.1", "--port", "0", "--no-dashboard",
                                "--scheduler-file", str(scheduler_file)],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline and process.poll() is None:
        if scheduler_file.exists():
            try:
                return process, json.loads(scheduler_file.read_text())["address"]
            except ValueError:
                pass  # still being written
        time.sleep(0.1)
    process.kill()
    raise RuntimeError("the scheduler did not start")


def started_worker(address, hidden):
    """A worker that sees a tmpfs of its own over `hidden`, the test's folder, and
    nothing else hidden: the module comes from this build wherever the build is,
    /tmp included."""
    environment = {**os.environ, "VEXMIRA_DASK_TEST_SLOW_BATCH": "2", "VEXMIRA_DASK_TEST_SLOW_SECONDS": "60"}
    command = ("mount -t tmpfs none \"$1\" && exec dask-worker \"$0\" --host 127.0.0.1 --nthreads 1 --nworkers 1 "
               "--no-dashboard --local-directory \"$1/worker\"")
    return subprocess.Popen(["unshare", "--mount", "--propagation", "private", "sh", "-c", command, address,
                             str(hidden)], env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


@pytest.fixture(scope="module")
def cluster(tmp_path_factory):
    from distributed import Client, Variable

    folder = tmp_path_factory.mktemp("cluster")
    scheduler, address = started_scheduler(folder)
    workers = []
    try:
        workers = [started_worker(address, tmp_path_factory.getbasetemp()) for _ in range(2)]
        with Client(address, timeout="30s") as client:
            client.wait_for_workers(2, timeout=60)
            Variable(SLOW, client=client).set("nobody")  # no batch is slow until a test arms it
            yield client
    finally:
        for process in [*workers, scheduler]:
            process.terminate()
        for process in [*workers, scheduler]:
            try:
                process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


@pytest.fixture(scope="module")
def served(tmp_path_factory):
    root = tmp_path_factory.mktemp("served")
    write_collection(root / "in")
    entry = struct.pack("<hIHiiBII", 1, 0, 0, 7, 0, 0, 0, 0) + b"E"
    (root / "huge.ARC").write_bytes(b"SPIS\x1aLZH" + struct.pack("<iBII", 0, 1, 0, 0) + entry * HUGE_ENTRIES)
    with RangeServer(root) as server:
        yield root, server


def files_of(root):
    return sorted(path.relative_to(root).as_posix() for path in (root / "in").rglob("*") if path.is_file()
                  and not path.name.endswith("$$$"))


def as_served(lines, server):
    """The tool's listings of files named relative to the served folder, named by their URLs."""
    listings = []
    for line in lines.splitlines():
        listing = json.loads(line)
        url = server.url(listing["file"])
        listing["file"] = url
        if listing["listed"] is not None:
            listing["listed"] = url
        listings.append(listing)
    return listings


def peak_resident(pid):
    """VmHWM of a live process, in bytes (its own: rusage would start from this process's size);
    0 once it has ended."""
    with open(f"/proc/{pid}/status", encoding="ascii") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return 0


def run_client(args, reader):
    """The client's exit status, what `reader` made of its output, and its peak resident size
    as last seen after its output (the client is then still closing its connection)."""
    process = subprocess.Popen([sys.executable, SCRIPT, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    peak = [0]

    def sample():
        peak[0] = max(peak[0], peak_resident(process.pid))

    result = reader(process.stdout, sample)
    process.stdout.close()
    errors = process.stderr.read()
    process.stderr.close()
    return process.wait(), result, peak[0], errors.decode()


def test_workers_do_not_see_the_clients_files(cluster, served):
    root, _ = served
    seen = cluster.run(os.path.exists, str(root / "huge.ARC"))
    assert len(seen) == 2 and not any(seen.values())


def test_workers_run_the_module_of_this_build(cluster):
    # A lambda travels by value: the workers cannot import this test's module.
    seen = cluster.run(lambda: os.path.realpath(__import__("vexmira").__file__))
    assert set(seen.values()) == {os.path.realpath(__import__("vexmira").__file__)}, seen


def test_output_equals_the_tool_and_survives_a_killed_worker(cluster, served):
    from distributed import Variable

    root, server = served
    names = files_of(root)
    expected = subprocess.run([VEXMIRA, "--json", "--in-place", "--quiet", *names], cwd=root, capture_output=True,
                              check=False)
    assert expected.returncode == 2 and expected.stdout.count(b"\n") == 36

    slow = Variable(SLOW, client=cluster)
    slow.set("armed")
    urls = [server.url(name) for name in names]
    process = subprocess.Popen([sys.executable, SCRIPT, "--scheduler", cluster.scheduler.address, "--batch-size", "4",
                                *urls], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    # The slow batch names the worker running it; that worker's process dies.
    deadline = time.monotonic() + 60
    while (worker := slow.get()) == "armed" and time.monotonic() < deadline:
        time.sleep(0.05)
    assert worker != "armed", "the slow batch never started"
    pid = cluster.run(os.getpid, workers=[worker])[worker]
    os.kill(pid, signal.SIGKILL)
    out, err = process.communicate(timeout=120)
    slow.set("nobody")
    assert process.returncode == expected.returncode, err.decode()
    assert [json.loads(line) for line in out.splitlines()] == as_served(expected.stdout, server), err.decode()
    assert out.count(b"\n") == 36, "none lost, none twice"


def digest(stream, sample):
    lines, hashed = 0, hashlib.sha256()
    for chunk in iter(lambda: stream.read(1 << 20), b""):
        lines += chunk.count(b"\n")
        hashed.update(chunk)
        sample()
    return lines, hashed.hexdigest()


def test_a_huge_listing_comes_back_in_parts_in_bounded_memory(cluster, served):
    root, server = served
    url = server.url("huge.ARC")
    status, (lines, got), peak, errors = run_client(["--scheduler", cluster.scheduler.address, url], digest)
    assert status == 0, errors

    tool = subprocess.Popen([VEXMIRA, "--json", "--in-place", "huge.ARC"], cwd=root, stdout=subprocess.PIPE)
    # The tool's line but for the name, which is the URL: its first bytes hold it.
    head = tool.stdout.read(200)
    assert head.count(b'"huge.ARC"') == 2
    hashed = hashlib.sha256(head.replace(b'"huge.ARC"', json.dumps(url).encode()))
    total = len(head)
    for chunk in iter(lambda: tool.stdout.read(1 << 20), b""):
        hashed.update(chunk)
        total += len(chunk)
    assert tool.wait() == 0
    assert lines == 1 and got == hashed.hexdigest()
    assert total > 40 * PART_SIZE, "a listing many parts long"
    # The client holds a few parts at a time, never the listing.
    print(f"client peak RSS: {peak / 2**20:.0f} MiB for a {total / 2**20:.0f} MiB listing")
    assert 0 < peak < CLIENT_BOUND


def test_a_closed_pipe_ends_quietly_by_sigpipe(cluster, served):
    root, server = served

    def first_bytes(stream, _):
        return stream.read(100)

    status, line, _, errors = run_client(["--scheduler", cluster.scheduler.address, server.url("huge.ARC")],
                                         first_bytes)
    assert status == -signal.SIGPIPE and errors == ""
    assert line.startswith(b'{"schema_version"')

"""vexmira-dask: list a collection of files on a Dask cluster.

usage: vexmira-dask [--scheduler ADDRESS] [--results-dir DIR] [--batch-size N] FILE|DIR...

Spreads the files (folders are walked in byte order of names, without
following symbolic links; "*$$$" side files are skipped) over the cluster in
batches. Each worker lists its files in place with the vexmira module (no side
file is written) and writes the batch's JSON lines to the results folder; this
client streams them to standard output in input order, so its memory stays
bounded however many entries a file holds. The lines are exactly what
`vexmira --json --in-place` prints for the same files; names are made
absolute, since workers do not share this process's working folder. Without --scheduler a local cluster is
started. A batch whose worker dies is run again by Dask, so no file is lost.
Exit status: 0, 1 when no archive was found in some file, 2 on any error.
"""
import argparse
import json
import os
import shutil
import signal
import stat
import sys
import tempfile


def walk(paths):
    """The files to examine, in order, each once."""
    seen = set()
    for top in paths:
        # Workers do not share this process's working folder: names go out absolute.
        stack = [os.path.abspath(os.fsencode(top))]
        named = True
        while stack:
            path = stack.pop()
            try:
                info = os.stat(path) if named else os.lstat(path)
            except OSError:
                if named:
                    yield path  # listing it reports why it cannot be opened
                continue
            if stat.S_ISDIR(info.st_mode):
                names = sorted(os.listdir(path))
                stack.extend(os.path.join(path, name) for name in reversed(names))
            elif named or (stat.S_ISREG(info.st_mode) and not path.endswith(b"$$$")):
                if (info.st_dev, info.st_ino) not in seen:
                    seen.add((info.st_dev, info.st_ino))
                    yield path
            named = False


def batches(iterable, size):
    batch = []
    for item in iterable:
        batch.append(item)
        if len(batch) == size:
            yield batch
            batch = []
    if batch:
        yield batch


def list_batch(index, paths, results_dir):
    """Runs on a worker: the batch's lines, written whole or not at all."""
    import time

    import vexmira

    slow = os.environ.get("VEXMIRA_DASK_TEST_SLOW_BATCH")  # tests only: makes one batch slow, once
    if slow is not None and int(slow) == index and not any(n.startswith("slow-") for n in os.listdir(results_dir)):
        with open(os.path.join(results_dir, f"slow-{os.getpid()}"), "w", encoding="utf-8"):
            pass
        time.sleep(float(os.environ.get("VEXMIRA_DASK_TEST_SLOW_SECONDS", "5")))
    final = os.path.join(results_dir, f"batch-{index:09d}.jsonl")
    partial = f"{final}.{os.getpid()}.part"
    with open(partial, "wb") as out:
        for path in paths:
            out.write(vexmira.json_lines(path))
    os.replace(partial, final)
    return final


def outcome(line):
    listing = json.loads(line)
    if listing["error"] is not None:
        return 2
    if listing["offset"] == -1:
        return 1
    return 0


class UsageError(Exception):
    pass


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UsageError(message)


def parse(argv):
    parser = Parser(prog="vexmira-dask", description=__doc__.split("\n\n")[2])
    parser.add_argument("--scheduler", metavar="ADDRESS", help="an existing cluster's scheduler (default: a local one)")
    parser.add_argument("--results-dir", metavar="DIR", help="where workers write their batches (default: a temporary folder)")
    parser.add_argument("--batch-size", metavar="N", type=int, default=64, help="files per task (default 64)")
    parser.add_argument("paths", nargs="+", metavar="FILE|DIR")
    args = parser.parse_args(argv)
    if args.batch_size < 1:
        raise UsageError(f"--batch-size must be at least 1, not {args.batch_size}")
    return args


def run(args):
    from dask.distributed import Client, LocalCluster

    if args.results_dir and os.path.exists(args.results_dir) and not os.path.isdir(args.results_dir):
        raise UsageError(f"--results-dir {args.results_dir!r} is not a folder")
    results_dir = args.results_dir or tempfile.mkdtemp(prefix="vexmira-dask-")
    os.makedirs(results_dir, exist_ok=True)
    cluster = None
    if args.scheduler:
        try:
            client = Client(args.scheduler, timeout="10s")
        except (OSError, ValueError, TypeError) as error:
            raise UsageError(f"cannot reach the scheduler {args.scheduler!r}: {error}") from None
    else:
        cluster = LocalCluster(host="127.0.0.1", scheduler_port=0, dashboard_address=None, processes=True)
        client = Client(cluster)
    worst = 0
    try:
        futures = [client.submit(list_batch, index, batch, results_dir, pure=False, retries=2)
                   for index, batch in enumerate(batches(walk(args.paths), args.batch_size))]
        if sys.stderr.isatty() and futures:
            from dask.distributed import progress
            import threading
            threading.Thread(target=progress, args=(futures,), kwargs={"notebook": False}, daemon=True).start()
        out = sys.stdout.buffer
        for future in futures:
            path = future.result()
            with open(path, "rb") as lines:
                for line in lines:
                    worst = max(worst, outcome(line))
                    out.write(line)
            out.flush()
            os.remove(path)
            future.release()
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
        if not args.results_dir:
            shutil.rmtree(results_dir, ignore_errors=True)
    return worst


def main(argv=None):
    """The command line: its exit status, 2 with one line on stderr for any failure of its own."""
    try:
        return run(parse(argv))
    except BrokenPipeError:
        # The reader is gone: end as the tool does, quietly, by SIGPIPE.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        signal.signal(signal.SIGPIPE, signal.SIG_DFL)
        os.kill(os.getpid(), signal.SIGPIPE)
        return 2
    except KeyboardInterrupt:
        return 130
    except UsageError as error:
        print(f"vexmira-dask: {error}", file=sys.stderr)
        return 2
    except Exception as error:  # noqa: BLE001 - any failure is one line, never a traceback
        print(f"vexmira-dask: {type(error).__name__}: {error}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())

"""vexmira-dask: list a collection of files on a Dask cluster.

usage: vexmira-dask [--scheduler ADDRESS] [--batch-size N] [--part-size BYTES] FILE|DIR|URL...

Spreads the files over the cluster in batches and prints exactly what
`vexmira --json --in-place` prints for the same files, in input order: each
listing names its file as given, a URL as written. Sources are paths on a
filesystem every worker sees, or fsspec URLs (file://, http(s)://, s3:// where
its package is installed); folders and URL prefixes are expanded here, folders
in byte order of names, without following symbolic links, skipping "*$$$" side
files. Results come back through Dask, never through a shared folder, in parts
of about --part-size bytes (default 8 MiB), so this client's memory stays
bounded however many entries a file holds. Without --scheduler a local cluster
is started. A batch whose worker dies is run again by Dask, so no file is lost.
Exit status as the tool's: 0 when some archive was listed and nothing failed, 1
when no archive was found anywhere, 2 when anything failed, 64 bad usage.
"""
import argparse
import collections
import os
import signal
import sys
import time
from typing import Any, Callable, Deque, Dict, Iterable, Iterator, List, Optional, Sequence, Tuple

from . import dask as vexmira_dask
from .dask import Pair

# Where a batch goes on: the file and the token within it.
GoingOn = Tuple[int, Optional[bytes]]

_HEAD_LIMIT = 1 << 20
_TAIL_LIMIT = 1 << 18


class Outcome:
    """The tool's exit status over the JSON lines fed so far, in pieces of any size: 2 when any
    listing failed, else 0 when any found an archive, else 1. Only each line's head (up to
    "offset") and tail (from "error") are kept, so a listing larger than memory is never held:
    those keys occur as raw bytes only as keys, never inside a string."""

    def __init__(self) -> None:
        self.failed = False
        self.found = False
        self._head = b""
        self._tail = b""

    @property
    def status(self) -> int:
        return 2 if self.failed else 0 if self.found else 1

    def feed(self, data: bytes) -> None:
        start = 0
        while start < len(data):
            end = data.find(b"\n", start)
            self._take(data[start:] if end < 0 else data[start:end])
            if end < 0:
                return
            self._line_ended()
            start = end + 1

    def _take(self, piece: bytes) -> None:
        if len(self._head) < _HEAD_LIMIT:
            self._head += piece[:_HEAD_LIMIT - len(self._head)]
        self._tail = (self._tail + piece[-_TAIL_LIMIT:])[-_TAIL_LIMIT:]

    def _line_ended(self) -> None:
        offset = self._head.find(b'"offset":')
        error = self._tail.rfind(b'"error":')
        if offset < 0 or error < 0 or not self._tail[error + 8:].startswith(b"null"):
            self.failed = True
        elif not self._head[offset + 9:].startswith(b"null"):
            self.found = True
        self._head = self._tail = b""


def batches(iterable: Iterable[Pair], size: int) -> Iterator[List[Pair]]:
    batch: List[Pair] = []
    for item in iterable:
        batch.append(item)
        if len(batch) == size:
            yield batch
            batch = []
    if batch:
        yield batch


def list_part(number: int, pairs: Sequence[Pair], start: int, resume: Optional[bytes],
              part_size: int) -> Tuple[bytes, Optional[GoingOn]]:
    """Runs on a worker: about part_size bytes of the batch's JSON lines from file `start`
    (resumed at `resume` within it), and (file, token) where the next part starts, or None."""
    _slow_once_for_tests(number, start, resume)
    pieces = []
    size = 0
    for index in range(start, len(pairs)):
        name, location = pairs[index]
        piece, resume = vexmira_dask.json_part(name, location, resume, max(part_size - size, 1 << 16))
        pieces.append(piece)
        size += len(piece)
        if resume is not None:
            return b"".join(pieces), (index, resume)
        if size >= part_size and index + 1 < len(pairs):
            return b"".join(pieces), (index + 1, None)
    return b"".join(pieces), None


def _slow_once_for_tests(number: int, start: int, resume: Optional[bytes]) -> None:
    """Tests only: batch VEXMIRA_DASK_TEST_SLOW_BATCH is slow when the cluster's variable
    "vexmira-dask-test-slow" says "armed"; the batch then puts its worker's address there."""
    slow = os.environ.get("VEXMIRA_DASK_TEST_SLOW_BATCH")
    if slow is None or int(slow) != number or start != 0 or resume is not None:
        return
    from distributed import Variable, get_worker

    marker = Variable("vexmira-dask-test-slow")
    try:
        if marker.get(timeout=1) != "armed":
            return
    except TimeoutError:
        return
    marker.set(get_worker().address)
    time.sleep(float(os.environ.get("VEXMIRA_DASK_TEST_SLOW_SECONDS", "5")))


class _Batch:
    def __init__(self, number: int, pairs: List[Pair]) -> None:
        self.number = number
        self.pairs = pairs
        self.future: Any = None
        self.parts: Deque[bytes] = collections.deque()
        self.going_on: Optional[GoingOn] = None
        self.finished = False


def stream(client: Any, pairs: Iterable[Pair], batch_size: int, part_size: int, window: int,
           write: Callable[[bytes, int], None]) -> None:
    """Lists the (name, location) pairs on the cluster and writes their JSON lines in input order.
    At most `window` batches are out at once, and each holds at most two parts here, so this
    process holds at most 2 * window parts however large a listing is."""
    from distributed import as_completed

    waiting = as_completed()
    ahead = enumerate(batches(pairs, batch_size))
    in_order: Deque[_Batch] = collections.deque()
    by_key: Dict[Any, _Batch] = {}

    def submit(batch: _Batch, start: int, resume: Optional[bytes]) -> None:
        batch.future = client.submit(list_part, batch.number, batch.pairs, start, resume, part_size,
                                     pure=False, retries=2)
        by_key[batch.future.key] = batch
        waiting.add(batch.future)

    def refill() -> None:
        while len(in_order) < window:
            following = next(ahead, None)
            if following is None:
                return
            in_order.append(_Batch(*following))
            submit(in_order[-1], 0, None)

    refill()
    while in_order:
        future = next(waiting)
        batch = by_key.pop(future.key)
        data, batch.going_on = future.result()
        future.release()
        batch.future = None
        batch.parts.append(data)
        batch.finished = batch.going_on is None
        # A batch ahead of its turn holds at most two parts; the next waits for its turn.
        if batch.going_on is not None and (batch is in_order[0] or len(batch.parts) < 2):
            submit(batch, *batch.going_on)
        while in_order and in_order[0].parts:
            front = in_order[0]
            while front.parts:
                write(front.parts.popleft(), len(front.pairs) if front.finished and not front.parts else 0)
            if front.finished:
                in_order.popleft()
                refill()
            elif front.future is None and front.going_on is not None:
                submit(front, *front.going_on)


class ProgressBar:
    """Dask's text progress bar over files listed, drawn on standard error."""

    def __init__(self, total: int, width: int = 40, interval: float = 0.1) -> None:
        self.total = max(total, 1)
        self.done = 0
        self.width = width
        self.interval = interval
        self.start = time.monotonic()
        self.drawn = 0.0

    def advance(self, files: int) -> None:
        self.done += files
        now = time.monotonic()
        if now - self.drawn >= self.interval or self.done >= self.total:
            self.drawn = now
            fraction = self.done / self.total
            bar = "#" * int(self.width * fraction)
            sys.stderr.write(f"\r[{bar:<{self.width}}] | {fraction:4.0%} Completed | {now - self.start:4.1f}s")
            sys.stderr.flush()

    def close(self) -> None:
        sys.stderr.write("\n")
        sys.stderr.flush()


class UsageError(Exception):
    """Bad usage: exit status 64, as the tool's."""


class Parser(argparse.ArgumentParser):
    def error(self, message: str) -> Any:  # never returns: raises
        raise UsageError(message)


def parse(argv: Optional[List[str]]) -> argparse.Namespace:
    parser = Parser(prog="vexmira-dask", description=(__doc__ or "").split("\n\n")[2])
    parser.add_argument("--scheduler", metavar="ADDRESS", help="an existing cluster's scheduler (default: a local one)")
    parser.add_argument("--batch-size", metavar="N", type=int, default=64, help="files per task (default 64)")
    parser.add_argument("--part-size", metavar="BYTES", type=int, default=vexmira_dask.PART_SIZE,
                        help="about how much JSON one task hands back (default 8 MiB)")
    parser.add_argument("--results-dir", help=argparse.SUPPRESS)
    parser.add_argument("paths", nargs="+", metavar="FILE|DIR|URL")
    args = parser.parse_args(argv)
    if args.results_dir is not None:
        raise UsageError("--results-dir is gone: results come back through Dask, no folder is shared")
    if args.batch_size < 1:
        raise UsageError(f"--batch-size must be at least 1, not {args.batch_size}")
    if args.part_size < 1:
        raise UsageError(f"--part-size must be at least 1, not {args.part_size}")
    return args


def run(args: argparse.Namespace) -> int:
    from dask.distributed import Client, LocalCluster

    pairs = list(vexmira_dask.expand(args.paths))
    cluster: Any = None
    if args.scheduler:
        try:
            client = Client(args.scheduler, timeout="10s")
        except (OSError, ValueError, TypeError) as error:
            raise RuntimeError(f"cannot reach the scheduler {args.scheduler!r}: {error}") from None
    else:
        cluster = LocalCluster(host="127.0.0.1", scheduler_port=0, dashboard_address=":0", processes=True)
        client = Client(cluster)
    outcome = Outcome()
    bar = ProgressBar(len(pairs)) if sys.stderr.isatty() and pairs else None
    out = sys.stdout.buffer

    def write(data: bytes, files_done: int) -> None:
        outcome.feed(data)
        out.write(data)
        out.flush()
        if bar is not None and files_done:
            bar.advance(files_done)

    try:
        window = max(4, 2 * sum(client.nthreads().values()))
        stream(client, pairs, args.batch_size, args.part_size, window, write)
    finally:
        if bar is not None:
            bar.close()
        client.close()
        if cluster is not None:
            cluster.close()
    return outcome.status


def main(argv: Optional[List[str]] = None) -> int:
    """The command line: its exit status; a failure of its own is one line on stderr."""
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
        print(f"vexmira-dask: {error} (--help tells more)", file=sys.stderr)
        return 64
    except RuntimeError as error:
        print(f"vexmira-dask: {error}", file=sys.stderr)
        return 2
    except Exception as error:  # noqa: BLE001 - any failure is one line, never a traceback
        print(f"vexmira-dask: {type(error).__name__}: {error}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())

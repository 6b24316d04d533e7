"""Listings of whole collections on Dask: a dataframe of entries, a bag of
listings, and the tasks `vexmira-dask` hands to workers.

Sources are paths on a filesystem every worker sees, or fsspec URLs
(file://, http(s)://, and s3:// and the like where the matching fsspec
package is installed). Folders and URL prefixes are expanded here, on the
client: folders in byte order of names, without following symbolic links,
skipping "*$$$" side files; a file reached twice is listed once. Every
listing is in place and names its file as given (a URL as written).
"""
import concurrent.futures
import contextlib
import io
import json
import os
import re
import stat
from importlib import import_module
from typing import IO, Any, Iterable, Iterator, List, Optional, Set, Tuple, Union

import vexmira

_core: Any = import_module("vexmira._core")  # its private calls, which the stubs leave out

PathName = Union[str, bytes]
"""A name as given: str or bytes, as the source was."""
Pair = Tuple[PathName, PathName]
"""(name, location): what a listing calls a file, and what a worker opens."""

PART_SIZE = 8 << 20
"""About how many bytes of JSON one task hands back."""

_URL = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*://")

# One row per entry, these columns and dtypes whatever the files hold.
ENTRY_COLUMNS = {
    "file": "object",
    "offset": "int64",
    "name": "object",
    "full_size": "int64",
    "compressed_size": "int64",
    "method": "int64",
    "method_id": "category",  # over vexmira.method_ids, in their order, whatever a partition holds
    "method_name": "object",
    "locked": "bool",
    "suspect": "string",  # None is pd.NA, not an object that pandas shows like a missing value
    "header_offset": "int64",
    "data_offset": "int64",
}
HASH_COLUMNS = {"sha256": "string", "entropy": "Float64"}
"""The columns entries_frame(..., hashes=True) adds: the stored bytes' SHA-256 and entropy (pd.NA where the
data runs past the end of the file)."""


def entry_dtypes(hashes: bool = False) -> dict[str, Any]:
    """ENTRY_COLUMNS' dtypes (with hashes, HASH_COLUMNS' too) as pandas takes them: method_id's categories
    are the same in every partition (vexmira.method_ids), so partitions concatenate without turning it to
    objects."""
    import pandas

    return {column: pandas.CategoricalDtype(vexmira.method_ids) if dtype == "category" else dtype
            for column, dtype in _columns(hashes).items()}


def is_url(source: Any) -> bool:
    text = os.fsdecode(source) if isinstance(source, bytes) else source
    return isinstance(text, str) and _URL.match(text) is not None


def expand(sources: Iterable[Union[PathName, "os.PathLike[str]", "os.PathLike[bytes]"]]) -> Iterator[Pair]:
    """(name, location) for every file to list, in order: name is what the listing calls it,
    location what a worker opens (an absolute path or a URL)."""
    seen_files: Set[Tuple[int, int]] = set()
    seen_urls: Set[str] = set()
    for source in sources:
        path = os.fspath(source)
        if is_url(path):
            yield from _expand_url(os.fsdecode(path), seen_urls)
        else:
            yield from _walk(path, seen_files)


def _walk(top: PathName, seen: Set[Tuple[int, int]]) -> Iterator[Pair]:
    # Workers do not share this process's working folder: they get absolute paths.
    as_str = isinstance(top, str)
    stack = [os.fsencode(top)]
    named = True
    while stack:
        path = stack.pop()
        location = os.path.abspath(path)
        try:
            info = os.stat(path) if named else os.lstat(path)
        except OSError:
            if named:
                yield _name(path, as_str), location  # its listing says why it cannot be opened
            continue
        if stat.S_ISDIR(info.st_mode):
            try:
                names = sorted(os.listdir(path))
            except OSError:
                names = []
            stack.extend(os.path.join(path, name) for name in reversed(names))
        elif named or (stat.S_ISREG(info.st_mode) and not path.endswith(b"$$$")):
            if (info.st_dev, info.st_ino) not in seen:
                seen.add((info.st_dev, info.st_ino))
                yield _name(path, as_str), location
        named = False


def _name(path: bytes, as_str: bool) -> PathName:
    return os.fsdecode(path) if as_str else path


def _expand_url(url: str, seen: Set[str]) -> Iterator[Pair]:
    import fsspec

    filesystem, root = fsspec.core.url_to_fs(url)
    protocols = filesystem.protocol if isinstance(filesystem.protocol, (tuple, list)) else (filesystem.protocol,)
    # Over HTTP only an address ending in "/" is a prefix (a page of links):
    # asking whether a file is a folder would fetch the whole file.
    prefix = url.endswith("/") if set(protocols) & {"http", "https"} else _isdir(filesystem, root)
    if not prefix:
        found = [url]
    else:
        found = [filesystem.unstrip_protocol(path) if not _URL.match(path) else path
                 for path in sorted(filesystem.find(root)) if not path.endswith("$$$")]
    for each in found:
        if each not in seen:
            seen.add(each)
            yield each, each


def _isdir(filesystem: Any, root: str) -> bool:
    try:
        return bool(filesystem.isdir(root))
    except OSError:
        return False  # its listing says why it cannot be read


class _Unopened(Exception):
    """A source that cannot be opened: its listing is the tool's error object."""

    def __init__(self, reason: str) -> None:
        super().__init__(reason)
        self.reason = reason


@contextlib.contextmanager
def opened(location: PathName) -> Iterator[Union[PathName, IO[bytes]]]:
    """What the module reads: the path itself, or a file object over a URL."""
    if not is_url(location):
        yield location
        return
    import fsspec

    try:
        file = fsspec.open(location, "rb").open()
    except FileNotFoundError:
        raise _Unopened("No such file or directory") from None
    except (OSError, ValueError) as error:
        raise _Unopened(str(error) or type(error).__name__) from None
    with file:
        yield file


def _unopened_line(name: PathName, reason: str) -> bytes:
    """The line for a URL that cannot be opened, as the tool's for a path."""
    error = f'Cannot open file "{os.fsdecode(name)}". {reason}'
    listing: dict[str, Any] = {
        "schema_version": vexmira.schema_version, "file": "", "path_encoding": "utf-8", "listed": None,
        "offset": None, "located": False, "passed_over": None, "messages": [f"Except: {error}"],
        "entries": [], "error": error, "archive_end": None, "truncated": None, "trailing_bytes": None,
        "plausible_end": None, "carved": None}
    line = json.dumps(listing, ensure_ascii=False, separators=(",", ":")).encode("utf-8") + b"\n"
    return _renamed(line, name)


def json_part(name: PathName, location: PathName, resume: Optional[bytes] = None,
              limit: int = PART_SIZE) -> Tuple[bytes, Optional[bytes]]:
    """The next piece of the listing's JSON lines and where the next one starts (None at the end)."""
    try:
        with opened(location) as source:
            return vexmira.json_part(source, resume, limit=limit, name=name)
    except _Unopened as unopened:
        return _unopened_line(name, unopened.reason), None
    except vexmira.OpenError:
        # A path that cannot be opened: the module's error object for it (which names it
        # in full, as the tool does), under the name as given.
        if resume is not None or is_url(location):
            raise
        line, more = vexmira.json_part(location)
        if more is not None:
            raise  # it came into being meanwhile: the batch runs again
        return _renamed(line, name), None


def _renamed(line: bytes, name: PathName) -> bytes:
    """One of the module's lines with "file" and "path_encoding" as the module writes them for `name`."""
    named, _ = vexmira.json_part(io.BytesIO(), name=name)
    # The keys' raw bytes cannot occur inside a string, where quotes are escaped.
    start, end = named.index(b',"file":'), named.index(b',"listed":')
    return line[:line.index(b',"file":')] + named[start:end] + line[line.index(b',"listed":'):]


def json_lines(name: PathName, location: PathName) -> bytes:
    """The whole listing's JSON lines, as `vexmira --json --in-place` prints them."""
    pieces = []
    resume = None
    while True:
        piece, resume = json_part(name, location, resume)
        pieces.append(piece)
        if resume is None:
            return b"".join(pieces)


def listings(pairs: Iterable[Pair]) -> List[Any]:
    """The listing objects of some (name, location) pairs."""
    return [json.loads(line) for name, location in pairs for line in json_lines(name, location).splitlines()]


ENTRIES_PER_PARTITION = 1_000_000
"""At most how many entries one partition of entries_frame holds."""

Piece = Tuple[PathName, PathName, Optional[bytes], int]
"""(name, location, resume, limit): at most `limit` entries of one listing, from its start or from the
token `resume`."""

def _columns(hashes: bool) -> dict[str, str]:
    return {**ENTRY_COLUMNS, **HASH_COLUMNS} if hashes else dict(ENTRY_COLUMNS)


Part = Tuple[Any, Any, dict[str, List[Any]], int, Optional[bytes]]
"""(file, offset, {column: values}, entries, token): one piece listed."""


def _part(piece: Piece, keys: List[str], hashes: bool) -> Part:
    """The module's part for a piece; a source that cannot be opened lists nothing, as its listing does."""
    name, location, resume, limit = piece
    try:
        with opened(location) as source:
            part: Part = _core._entry_part(source, resume, limit=limit, name=name, columns=keys, hashes=hashes)
            return part
    except _Unopened:
        return None, None, {key: [] for key in keys}, 0, None
    except vexmira.OpenError:
        if resume is not None or is_url(location):
            raise
        return None, None, {key: [] for key in keys}, 0, None


def entry_rows(pieces: Iterable[Union[Pair, Piece]], hashes: bool = False) -> Any:
    """One dataframe partition: the entries of some pieces ((name, location) pairs are whole listings)."""
    import pandas

    wanted = _columns(hashes)
    keys = [column for column in wanted if column not in ("file", "offset")]
    columns: dict[str, List[Any]] = {column: [] for column in wanted}
    for piece in pieces:
        whole: Piece = (piece[0], piece[1], None, 1 << 62) if len(piece) == 2 else piece  # type: ignore[assignment]
        file, offset, values, count, _ = _part(whole, keys, hashes)
        columns["file"].extend([file] * count)
        columns["offset"].extend([offset] * count)
        for key in keys:
            columns[key].extend(values[key])
    dtypes = entry_dtypes(hashes)
    return pandas.DataFrame({column: pandas.Series(values, dtype=dtypes[column]) for column, values in columns.items()})


def _size(location: PathName) -> Optional[int]:
    """The file's size in bytes, None when it is not known without reading it."""
    try:
        if not is_url(location):
            return os.stat(location).st_size
        import fsspec

        filesystem, path = fsspec.core.url_to_fs(os.fsdecode(location))
        size = filesystem.size(path)
        return int(size) if size is not None else None
    except (OSError, ValueError):
        return 0  # its listing says why it cannot be read: no entries


def _resume_points(name: PathName, location: PathName, every: int) -> Tuple[List[Optional[bytes]], int]:
    """Where each run of `every` entries of the listing starts (None: its start), and how many it has:
    the headers walked once, nothing kept."""
    starts: List[Optional[bytes]] = [None]
    total = 0
    while True:
        *_, count, token = _part((name, location, starts[-1], every), [], False)
        total += count
        if token is None:
            break
        starts.append(token)
    if len(starts) > 1 and total == every * (len(starts) - 1):
        starts.pop()  # the last run ended the listing exactly: the part after it is empty
    return starts, total


def _pieces(pairs: List[Pair], per_partition: int, files_per_partition: int) -> List[List[Piece]]:
    """The partitions: pieces of at most per_partition entries in all and files_per_partition pieces each.
    A file that may hold more entries than a partition (by its size) is walked first, headers only, on
    the cluster, for where its runs start; the others are bounded by their size alone."""
    import dask

    if per_partition < 1:
        raise ValueError(f"entries_per_partition must be at least 1, not {per_partition}")
    if files_per_partition < 1:
        raise ValueError(f"files_per_partition must be at least 1, not {files_per_partition}")
    locations = [location for _, location in pairs]
    if any(is_url(location) for location in locations):
        # Each a request to the store: many at once.
        with concurrent.futures.ThreadPoolExecutor(max_workers=16) as pool:
            sizes = list(pool.map(_size, locations))
    else:
        sizes = [_size(location) for location in locations]
    bounds = [None if size is None else _core._most_entries(size) for size in sizes]
    large = [i for i, bound in enumerate(bounds) if bound is None or bound > per_partition]
    walked = dask.compute(*[dask.delayed(_resume_points)(*pairs[i], per_partition) for i in large]) if large else ()
    found = dict(zip(large, walked))
    counted: List[Tuple[int, Piece]] = []
    for i, (name, location) in enumerate(pairs):
        if i in found:
            starts, total = found[i]
            for run, start in enumerate(starts):
                counted.append((min(per_partition, total - run * per_partition), (name, location, start, per_partition)))
        else:
            counted.append((bounds[i] or 0, (name, location, None, per_partition)))
    partitions: List[List[Piece]] = []
    held = 0
    for count, piece in counted:
        if not partitions or held + count > per_partition or len(partitions[-1]) == files_per_partition:
            partitions.append([])
            held = 0
        partitions[-1].append(piece)
        held += count
    return partitions


def _chunks(items: List[Pair], size: int) -> List[List[Pair]]:
    if size < 1:
        raise ValueError(f"files_per_partition must be at least 1, not {size}")
    return [items[start:start + size] for start in range(0, len(items), size)]


def entries_frame(paths_or_urls: Iterable[Any], *, entries_per_partition: int = ENTRIES_PER_PARTITION,
                  files_per_partition: int = 16, hashes: bool = False) -> Any:
    """A dask DataFrame with one row per entry of every listed archive (ENTRY_COLUMNS; with hashes, also
    HASH_COLUMNS, which read every entry's stored bytes). A partition holds at most entries_per_partition
    entries and files_per_partition files or runs of one: a file of more entries spans several partitions,
    each resuming its walk where the one before stopped. Folders and URL prefixes are expanded now, and a
    file large enough to hold more entries than a partition has its headers walked now (on the cluster)."""
    import dask.dataframe

    pairs = list(expand(paths_or_urls))
    partitions = _pieces(pairs, entries_per_partition, files_per_partition)
    meta = entry_rows([], hashes)
    if not partitions:
        return dask.dataframe.from_pandas(meta, npartitions=1)
    return dask.dataframe.from_map(entry_rows, partitions, args=(hashes,), meta=meta, label="vexmira-entries",
                                   enforce_metadata=False)


def listings_bag(paths_or_urls: Iterable[Any], *, files_per_partition: int = 16) -> Any:
    """A dask Bag of the listing dicts (the `vexmira --json --in-place` objects), in input order."""
    import dask.bag

    chunks = _chunks(list(expand(paths_or_urls)), files_per_partition)
    return dask.bag.from_sequence(chunks, npartitions=max(len(chunks), 1)).map_partitions(_listed_chunks)


def _listed_chunks(chunks: Iterable[List[Pair]]) -> List[Any]:
    return [listing for chunk in chunks for listing in listings(chunk)]

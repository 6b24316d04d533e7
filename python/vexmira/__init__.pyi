"""Types of the vexmira module: listings as `vexmira --json --in-place` gives them."""
import builtins
import mmap
import os
from types import TracebackType
from typing import Any, Iterator, Optional, Protocol, Type, Union

Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
BytesLike = Union[bytes, bytearray, memoryview, mmap.mmap]
Listing = dict[str, Any]
Entry = dict[str, Any]

__version__: str
"""The tool's version, as `vexmira --version` says it."""
schema_version: str
"""The JSON contract's version, "MAJOR.MINOR", of every listing."""

class Error(Exception):
    """Every error of the module."""

class OpenError(Error):
    """A file cannot be opened, read or sought."""

class CreateError(Error):
    """A file cannot be created."""

class WriteError(Error):
    """A file cannot be written whole."""

class OutOfMemoryError(Error, MemoryError):
    """Any allocation failed, in the core or in building the Python result."""

class InvalidHeaderError(Error):
    """The archive header's signature is wrong."""

class ArchiveTypeError(Error):
    """The archive header names a type that is not a multi-file archive."""

class CompressionMethodError(Error):
    """The archive header's compression identifier is unknown."""

class BinaryFile(Protocol):
    """A binary, seekable file object: open(..., "rb"), io.BytesIO, an fsspec file."""

    def read(self, size: int = ..., /) -> bytes: ...
    def seek(self, offset: int, whence: int = ..., /) -> int: ...

Source = Union[Path, BinaryFile]
"""A path, or a binary, seekable file object.

A file object is read through its seek and readinto (read where it has no
readinto), taking the GIL for each call only, in a window of at most 1 MiB;
its size is taken once, at the start. The listing's "file" is the object's
`name` when that is str or bytes (a `.ARC` name is then listed directly, as
for a path), else "<file object>" (which goes through the locator). A
text-mode object raises TypeError, one that cannot seek OpenError; a read or
seek that raises, returns more bytes than asked or returns anything but bytes
raises OpenError naming the file and the reason, the Python exception as its
__cause__. A short read is fine."""

def list(path: Source) -> Listing:
    """The listing of one file as `vexmira --json --in-place` gives it, plus name_bytes per entry.

    Raises ValueError for a path with a NUL byte, and the module's errors."""

def json_lines(path: Source) -> bytes:
    """The bytes `vexmira --json --in-place PATH` prints, error objects included."""

def json_part(source: Source, resume: Optional[bytes] = None, *, limit: int = 8 << 20,
              name: Optional[Union[str, bytes]] = None) -> tuple[bytes, Optional[bytes]]:
    """The next piece of exactly the bytes json_lines(source) gives, and a token that resumes it.

    The piece holds about `limit` bytes (at least one entry each, so it may run
    past `limit` by one entry); the token, of a fixed small size, is None once
    the piece ends the listing. Joining every piece, in order, gives
    json_lines' bytes, for any limit. Each call opens the source afresh (a path
    is reopened; a file object is sought) and goes on from the entry header
    the token holds, so nothing before it is read again and the total work
    stays linear. The token carries what the end of the listing needs
    (counts, plausible end, suspect state, how the walk ended).

    `name`, when given, is the listing's "file" value (a URL, say) for a path
    or a file object alike; it also decides, as a path's name does, whether
    the source is listed directly (".ARC") or located. With `name` a path is
    opened at once, so a path that cannot be opened raises OpenError.

    The token is bound to the bytes it resumes from: the archive header and
    the header and name of the entry the piece ended on are read again and
    compared (only those bytes), and its fields are checked against each
    other and the file.

    Raises ValueError for a token that is damaged, altered, or was made for
    another file, name, size or content at those bytes, and the module's errors."""

def list_bytes(data: BytesLike, offset: int = 0) -> Listing:
    """The listing of the archive at `offset` of `data`: any contiguous bytes-like object
    (bytes, bytearray, memoryview, mmap), read in place without a copy."""

def locate(path: Source) -> dict[str, Any]:
    """{'offset': ..., 'offset_text': ...}; offset -1 when none."""

def candidates(path: Source) -> builtins.list[int]:
    """Every candidate offset, as --all lists them."""

def carve(path: Path, offset: int, out_dir: Path) -> Union[str, bytes]:
    """Writes the archive at `offset` to its plausible end below out_dir; returns the carved file's path
    (bytes when `path` is bytes)."""

class EntryIterator(Iterator[Entry]):
    """The entries of one listing, one by one, in bounded memory; a context manager that closes it."""

    def __iter__(self) -> EntryIterator: ...
    def __next__(self) -> Entry: ...
    def close(self) -> None:
        """Stops the walk and releases the file; the iterator is then exhausted."""
    def __enter__(self) -> EntryIterator: ...
    def __exit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None: ...
    @property
    def summary(self) -> Optional[dict[str, Any]]:
        """archive_end, truncated, trailing_bytes, plausible_end and the count of entries, once the iterator
        is exhausted; None before."""

def iter_entries(path: Source) -> EntryIterator:
    """The entries one by one, in bounded memory."""

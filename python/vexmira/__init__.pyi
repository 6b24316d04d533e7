"""Types of the vexmira module: listings as `vexmira --json --in-place` gives them."""
import builtins
import mmap
import os
from types import TracebackType
from typing import Any, Iterator, Optional, Type, Union

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

def list(path: Path) -> Listing:
    """The listing of one file as `vexmira --json --in-place` gives it, plus name_bytes per entry.

    Raises ValueError for a path with a NUL byte, and the module's errors."""

def json_lines(path: Path) -> bytes:
    """The bytes `vexmira --json --in-place PATH` prints, error objects included."""

def list_bytes(data: BytesLike, offset: int = 0) -> Listing:
    """The listing of the archive at `offset` of `data`: any contiguous bytes-like object
    (bytes, bytearray, memoryview, mmap), read in place without a copy."""

def locate(path: Path) -> dict[str, Any]:
    """{'offset': ..., 'offset_text': ...}; offset -1 when none."""

def candidates(path: Path) -> builtins.list[int]:
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

def iter_entries(path: Path) -> EntryIterator:
    """The entries one by one, in bounded memory."""

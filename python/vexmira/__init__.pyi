"""Types of the vexmira module: listings as `vexmira --json --in-place` gives them."""
import builtins
import mmap
import os
from types import TracebackType
from typing import Any, Iterator, Literal, Optional, Protocol, Type, Union

Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
BytesLike = Union[bytes, bytearray, memoryview, mmap.mmap]
Listing = dict[str, Any]
EntryDict = dict[str, Any]

__version__: str
"""The tool's version, as `vexmira --version` says it."""
schema_version: str
"""The JSON contract's version, "MAJOR.MINOR", of every listing."""
method_ids: tuple[str, ...]
"""Every value an entry's method_id takes but None, indexed by the method byte."""

class Error(Exception):
    """Every error of the module; str() is the tool's message."""

class OpenError(Error, OSError):
    """A file cannot be opened, read or sought. errno, strerror and filename say what the system said (errno
    None where the reason is the module's own); raised as FileNotFoundError, PermissionError and the like where
    the system's code makes it one."""

class CreateError(Error, OSError):
    """A file cannot be created, or is kept because it exists (then also FileExistsError)."""

class WriteError(Error, OSError):
    """A file cannot be written whole."""

class OutOfMemoryError(Error, MemoryError):
    """Any allocation failed, in the core or in building the Python result."""

class InvalidHeaderError(Error, ValueError):
    """The archive header's signature is wrong."""

class ArchiveTypeError(Error, ValueError):
    """The archive header names a type that is not a multi-file archive."""

class CompressionMethodError(Error, ValueError):
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
    """{'offset': ..., 'offset_text': ...}; offset None when there is none, as the listings say."""

def candidates(path: Source) -> builtins.list[int]:
    """The offset of every listing --all makes: located candidates and the headers the locator passes over."""

def carve(path: Source, offset: int, out_dir: Path, *, force: bool = False,
          end: Literal["plausible", "walk"] = "plausible") -> Union[str, bytes]:
    """Writes the archive at `offset` to its plausible end (end="walk": the end of its last whole entry) to
    OUT_DIR/NAME.OFFSET.ARC, as --carve does, and returns that path (bytes when `path` is bytes).

    out_dir is made when missing. Raises CreateError ("Nothing to carve") for an archive without an entry and,
    without force, a FileExistsError CreateError for a file already there."""

class Entry:
    """One entry of a listing, immutable: the tool's JSON entry as attributes."""

    @property
    def name(self) -> str:
        """The name, its bytes read as Latin-1 (every byte one character)."""
    @property
    def name_bytes(self) -> bytes:
        """The name's bytes as the archive holds them."""
    @property
    def full_size(self) -> int: ...
    @property
    def compressed_size(self) -> int: ...
    @property
    def method(self) -> int: ...
    @property
    def method_id(self) -> Optional[str]:
        """"NON", "RLE", "LZH", "CUS" or "LH5" by the method byte; None beyond them."""
    @property
    def method_name(self) -> str:
        """The method as the entry's dialog shows it: "None", "RLE", "LZH1" or "LZH5"."""
    @property
    def locked(self) -> bool: ...
    @property
    def header_offset(self) -> int: ...
    @property
    def header_size(self) -> int: ...
    @property
    def data_offset(self) -> int: ...
    @property
    def long2(self) -> int: ...
    @property
    def word6(self) -> int: ...
    @property
    def long17(self) -> int: ...
    @property
    def percentage(self) -> str: ...
    @property
    def percent_compressed(self) -> Optional[int]: ...
    @property
    def size(self) -> str: ...
    @property
    def suspect(self) -> Optional[str]:
        """Why the entry cannot be a real one; None when it can."""
    @property
    def sha256(self) -> Optional[str]:
        """The SHA-256 (hex) of the stored bytes, as --hash gives it; None unless opened with hashes=True, and
        where the data runs past the end of the file (data_error says so)."""
    @property
    def entropy(self) -> Optional[float]:
        """The stored bytes' Shannon entropy in bits per byte, two decimals (0.0 to 8.0); None as sha256."""
    @property
    def data_error(self) -> Optional[str]:
        """Why the stored bytes were not read (they run past the end of the file); None otherwise."""
    def to_dict(self) -> EntryDict:
        """The tool's JSON entry as a dict, plus name_bytes."""

class Archive:
    """One listing of a source: the tool's JSON object as attributes, its entries by iteration. A context
    manager; close() releases the file."""

    @property
    def file(self) -> str:
        """The source's name: its path, a file object's name, or "<bytes>"."""
    @property
    def path_encoding(self) -> str:
        """How the path's bytes are read: "utf-8" or "latin-1"."""
    @property
    def listed(self) -> Optional[str]:
        """The path whose entries are read; None when nothing is."""
    @property
    def offset(self) -> Optional[int]:
        """Where the archive starts in the source; None when none was found."""
    @property
    def located(self) -> Optional[bool]:
        """Whether the locator chose the offset; None where it was not asked."""
    @property
    def passed_over(self) -> Optional[str]:
        """For a listing of scan(): why the locator passes this header over."""
    @property
    def input_sha256(self) -> Optional[str]:
        """The SHA-256 (hex) of the source's bytes, with hashes=True; None otherwise."""
    @property
    def messages(self) -> builtins.list[str]:
        """The locator's messages, in order."""
    @property
    def plausible_end(self) -> Optional[int]:
        """Where the archive plausibly ends."""
    @property
    def archive_end(self) -> Optional[int]:
        """Where the walk over the entries ended."""
    @property
    def truncated(self) -> Optional[bool]:
        """Whether the walk was cut short: the last entry's data runs past the end of the source."""
    @property
    def trailing_bytes(self) -> Optional[int]:
        """How many bytes of the source follow archive_end."""
    @property
    def error(self) -> Optional[str]:
        """Why the listing failed (a header of scan() the reader refuses); None for one open() gives."""
    def __iter__(self) -> Iterator[Entry]:
        """Every entry as the JSON lists them, suspect ones marked, in bounded memory."""
    def entries(self, *, plausible_only: bool = True) -> Iterator[Entry]:
        """The entries; with plausible_only they stop before the first suspect one."""
    def candidates(self) -> builtins.list[dict[str, Any]]:
        """Every listing --all makes of the source: {'offset': ..., 'passed_over': ...}."""
    def carve(self, out_dir: Path, *, force: bool = False,
              end: Literal["plausible", "walk"] = "plausible") -> Union[str, bytes, None]:
        """Writes the archive as the tool's --carve does and returns its path; None where the tool carves nothing."""
    def extract(self, dir: Path, *, include_suspect: bool = False,
                force: bool = False) -> builtins.list[Union[str, bytes]]:
        """Writes the entries below DIR as the tool's --extract does (DIR/<path>.extracted/<OFFSET>/, with
        manifest.jsonl) and returns the paths of the files written, in entry order (bytes for a bytes path);
        entries not written are only in the manifest. Without force, an earlier extraction raises CreateError,
        also a FileExistsError."""
    def read_stored(self, entry: Entry, *, max_size: int = 64 << 20) -> bytes:
        """The bytes ENTRY (one of this archive's) stores, exactly as they lie in the source, nothing decoded.

        Raises ValueError when they run past the end of the source and when there are more than max_size."""
    def to_json(self) -> str:
        """The tool's JSON object of this listing, one line (with sha256 and entropy when hashes=True)."""
    def close(self) -> None:
        """Releases the file."""
    def __enter__(self) -> Archive: ...
    def __exit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None: ...

def open(source: Union[Source, bytearray, memoryview, mmap.mmap], *, offset: Optional[int] = None,
         hashes: bool = False) -> Archive:
    """One listing of SOURCE as an Archive: without offset the tool's route (".ARC" listed directly, else
    located), with offset the archive there. bytes is a path; other bytes-like data is read in memory.

    With hashes, as the tool's --hash: input_sha256, and every entry's sha256 and entropy, which reads all
    of the stored data (the listing alone reads headers only)."""

def scan(source: Union[Source, bytearray, memoryview, mmap.mmap]) -> builtins.list[Archive]:
    """An Archive for every line `vexmira --json --in-place --all` prints for SOURCE, from one scan: repeats
    folded (also_at), each to_json() the tool's line, a refused header's Archive carrying its error rather than
    raising, iteration stopping where that listing's walk stopped or joined another. [] when there is no
    archive."""

class EntryIterator(Iterator[EntryDict]):
    """The entries of one listing, one by one, in bounded memory; a context manager that closes it."""

    def __iter__(self) -> EntryIterator: ...
    def __next__(self) -> EntryDict: ...
    def close(self) -> None:
        """Stops the walk and releases the file; the iterator is then exhausted."""
    def __enter__(self) -> EntryIterator: ...
    def __exit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None: ...
    @property
    def summary(self) -> Optional[dict[str, Any]]:
        """archive_end, truncated, trailing_bytes, plausible_end and the count of entries, once the iterator
        is exhausted; None before, and after a failure or close()."""

def iter_entries(path: Source) -> EntryIterator:
    """The entries one by one as dicts (list()'s), in bounded memory."""

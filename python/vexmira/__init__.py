"""List archive entries and find archives embedded in other files, as the
`vexmira` tool does.

    with vexmira.open("setup.exe") as archive:
        for entry in archive:
            print(entry.name, entry.full_size, entry.method_id)

open() gives an Archive: the tool's JSON object as attributes (offset,
located, messages, plausible_end, ...), its Entry objects by iteration in
bounded memory, carve() and to_json(). scan() gives one for every line
--json --all prints. The functional layer (list, list_bytes, json_lines, json_part,
locate, candidates, carve, iter_entries) gives the same listings as dicts and
bytes. Every listing is in place: only carve() writes, through the tool's
writer.

Errors are vexmira.Error with the tool's messages; OpenError, CreateError and
WriteError are also OSError (FileNotFoundError, PermissionError and the like
where the system's code says so), header errors also ValueError. Files are
read with the GIL released; a binary, seekable file object is read through its
own seek and readinto, each call taking the GIL.
"""
from ._errors import (
    ArchiveTypeError,
    CompressionMethodError,
    CreateError,
    Error,
    InvalidHeaderError,
    OpenError,
    OutOfMemoryError,
    WriteError,
)
from ._core import (
    Archive,
    Entry,
    EntryIterator,
    __version__,
    candidates,
    carve,
    iter_entries,
    json_lines,
    json_part,
    list,
    list_bytes,
    locate,
    method_ids,
    open,
    scan,
    schema_version,
)

for _error in (ArchiveTypeError, CompressionMethodError, CreateError, Error, InvalidHeaderError, OpenError,
               OutOfMemoryError, WriteError):
    _error.__module__ = __name__
del _error

__all__ = [
    "Archive", "ArchiveTypeError", "CompressionMethodError", "CreateError", "Entry", "EntryIterator", "Error",
    "InvalidHeaderError", "OpenError", "OutOfMemoryError", "WriteError", "__version__", "candidates", "carve",
    "iter_entries", "json_lines", "json_part", "list", "list_bytes", "locate", "method_ids", "open", "scan",
    "schema_version",
]

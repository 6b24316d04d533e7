"""List archive entries and find archives embedded in other files, as
`vexmira --json --in-place` does.

Every listing is in place (no side file is written; only carve() writes) and
gives the keys and values of one `vexmira --json --in-place` object, plus each
entry's name as bytes. Errors raise the module's own exception classes, all
vexmira.Error, with the tool's messages. Files are read with the GIL released;
most functions also take a binary, seekable file object, read through its own
seek and readinto, each call taking the GIL. json_part hands a listing's JSON
over in pieces that resume where the last one stopped.
"""
from ._core import (
    ArchiveTypeError,
    CompressionMethodError,
    CreateError,
    EntryIterator,
    Error,
    InvalidHeaderError,
    OpenError,
    OutOfMemoryError,
    WriteError,
    __version__,
    candidates,
    carve,
    iter_entries,
    json_lines,
    json_part,
    list,
    list_bytes,
    locate,
    schema_version,
)

__all__ = [
    "ArchiveTypeError", "CompressionMethodError", "CreateError", "EntryIterator", "Error", "InvalidHeaderError",
    "OpenError", "OutOfMemoryError", "WriteError", "__version__", "candidates", "carve", "iter_entries",
    "json_lines", "json_part", "list", "list_bytes", "locate", "schema_version",
]

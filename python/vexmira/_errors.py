"""The module's exception classes. The extension raises them through raised();
their messages are the tool's, word for word."""
from typing import Dict, Optional, Tuple, Type


class Error(Exception):
    """Every error of the module; str() is the tool's message."""


class _SystemError(Error, OSError):
    # OSError's own str() would put "[Errno N]" before the message: the tool's
    # words stay what str() gives, errno, strerror and filename beside them.
    def __str__(self) -> str:
        return str(self.args[0]) if self.args else ""


class OpenError(_SystemError):
    """A file cannot be opened, read or sought. An OSError: errno, strerror and
    filename say what the system said, where it said it (errno None when the
    reason is the module's own, such as a folder or a pipe given as a file);
    raised as FileNotFoundError, PermissionError, IsADirectoryError and the
    like where the system's code makes it one."""


class CreateError(_SystemError):
    """A file cannot be created, or is kept because it exists (then also a
    FileExistsError). An OSError, as OpenError is."""


class WriteError(_SystemError):
    """A file cannot be written whole. An OSError, as OpenError is."""


class OutOfMemoryError(Error, MemoryError):
    """Any allocation failed, in the core or in building the Python result."""


class InvalidHeaderError(Error, ValueError):
    """The archive header's signature is wrong: what was read is no archive."""


class ArchiveTypeError(Error, ValueError):
    """The archive header names a type that is not a multi-file archive."""


class CompressionMethodError(Error, ValueError):
    """The archive header's compression identifier is unknown."""


_by_name: Dict[str, Type[Error]] = {
    kind.__name__: kind
    for kind in [Error, OpenError, CreateError, WriteError, OutOfMemoryError, InvalidHeaderError, ArchiveTypeError,
                 CompressionMethodError]
}
_joined: Dict[Tuple[type, type], Type[_SystemError]] = {}


def _with_system_kind(kind: Type[_SystemError], code: int) -> Type[_SystemError]:
    # The class OSError itself picks for the code (FileNotFoundError for
    # ENOENT, ...), joined under the module's own name.
    system_kind = type(OSError(code, ""))
    if system_kind is OSError:
        return kind
    joined = _joined.get((kind, system_kind))
    if joined is None:
        joined = type(kind.__name__, (kind, system_kind), {"__doc__": kind.__doc__, "__module__": kind.__module__})
        _joined[(kind, system_kind)] = joined
    return joined


def raised(name: str, message: str, code: int = 0, reason: Optional[str] = None,
           filename: Optional[str] = None) -> BaseException:
    """The exception to raise for one of the core's errors."""
    kind = _by_name[name]
    if not issubclass(kind, _SystemError):
        return kind(message)
    if code:
        kind = _with_system_kind(kind, code)
    error: _SystemError = kind(message)  # errno, strerror and filename None until set
    if code:
        error.errno = code
    if reason is not None:
        error.strerror = reason
    error.filename = filename
    return error

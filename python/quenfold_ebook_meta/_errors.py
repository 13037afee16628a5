"""Exception and warning classes of the quenfold_ebook_meta binding."""

from __future__ import annotations

import errno as _errno
import os
from typing import Any, Dict, Optional, Tuple, Type

__all__ = [
    "EbookError",
    "EbookOSError",
    "EbookFileNotFoundError",
    "EbookPermissionError",
    "EbookWarning",
    "DrmWarning",
    "error_from_message",
]


class EbookError(Exception):
    """A library call failed; the text is the library's own message.

    ``str(err)`` and ``err.message`` hold the message exactly as the library
    wrote it (decoded as UTF-8, undecodable bytes kept as surrogate escapes).
    """

    def __init__(self, message: str) -> None:
        super().__init__(message)
        self.message = message


class EbookOSError(EbookError, OSError):
    """The system refused a file the call needed (the book, its directory, a cover to write).

    Also an :class:`OSError`, with ``errno``, ``strerror`` and ``filename``
    set, so that ``except OSError`` in a script catches it; ``str(err)`` is
    still the library's message.
    """

    def __init__(self, message: str, errno: Optional[int] = None,
                 filename: Optional[str] = None) -> None:
        super().__init__(message)
        self.errno = errno  # type: ignore[assignment]
        self.strerror = os.strerror(errno) if errno is not None else None  # type: ignore[assignment]
        self.filename = filename

    def __str__(self) -> str:
        return self.message

    def __reduce__(self) -> Tuple[Any, ...]:
        # Crosses process boundaries whole (a dask worker's error).
        return (type(self), (self.message, self.errno, self.filename))


class EbookFileNotFoundError(EbookOSError, FileNotFoundError):
    """The book (or directory) does not exist: also a :class:`FileNotFoundError`."""


class EbookPermissionError(EbookOSError, PermissionError):
    """The book (or directory, or cover file) may not be opened: also a :class:`PermissionError`."""


class EbookWarning(UserWarning):
    """A call succeeded but the library left a notice (a book it only partly understood)."""


class DrmWarning(EbookWarning):
    """The book is DRM-protected: it was described, but it will not be decrypted."""


#: The library's messages about a file the system refused: "<what>: <path> (<reason>)".
_OS_MESSAGES = ("cannot open file: ", "cannot open dir: ", "cannot write cover: ")
#: The system's text for each error number; the lowest number for a shared text.
_REASONS: Dict[str, int] = {os.strerror(n): n for n in sorted(_errno.errorcode, reverse=True)}
_OS_CLASSES: Dict[int, Type[EbookOSError]] = {
    _errno.ENOENT: EbookFileNotFoundError,
    _errno.EACCES: EbookPermissionError,
    _errno.EPERM: EbookPermissionError,
}


def error_from_message(message: str) -> EbookError:
    """The exception for a library message: an :class:`EbookOSError` subclass when the system
    refused a file (a missing book is a FileNotFoundError), else :class:`EbookError`."""
    prefix = next((p for p in _OS_MESSAGES if message.startswith(p)), None)
    if prefix is None or not message.endswith(")"):
        return EbookError(message)
    # The reason is the system's own text for the error number (the library
    # and this process share the C library), after the last " (".
    head, sep, reason = message[:-1].rpartition(" (")
    if not sep:
        return EbookError(message)
    number = _REASONS.get(reason)
    if number is None:
        return EbookError(message)
    return _OS_CLASSES.get(number, EbookOSError)(message, number, head[len(prefix):])

"""Books read through a binary file object: the library's read callback over ``seek``/``read``."""

from __future__ import annotations

import ctypes
import io
import os
from typing import Any, BinaryIO, Optional

from ._errors import EbookError

__all__ = ["READ_FN", "FileReader", "is_file_object"]

#: ``ebook_read_fn``: (ctx, offset, buf, len) -> bytes given, 0 at the end, -1 on failure.
READ_FN = ctypes.CFUNCTYPE(
    ctypes.c_longlong, ctypes.c_void_p, ctypes.c_ulonglong, ctypes.c_void_p, ctypes.c_size_t
)


def is_file_object(source: Any) -> bool:
    """Whether ``source`` is read as a file object (not taken for a path)."""
    return (
        not isinstance(source, (str, bytes, os.PathLike))
        and callable(getattr(source, "read", None))
        and callable(getattr(source, "seek", None))
    )


def _name_of(source: Any) -> Optional[str]:
    # A file's name, a zipfile member's, an fsspec file's path or URL.
    for attr in ("name", "path"):
        value = getattr(source, attr, None)
        if isinstance(value, (str, bytes)):
            return os.fsdecode(value)
    return None


def _size_of(source: Any, name: Optional[str]) -> int:
    """The book's size: the object's ``size``, else where ``seek(0, 2)`` lands.

    Some file objects (SFTP clients among them) return None from ``seek``, as
    Python 2's files did: ``tell()`` then says where it landed.
    """
    size = getattr(source, "size", None)
    if isinstance(size, int) and not isinstance(size, bool) and size >= 0:
        return size
    size = source.seek(0, io.SEEK_END)
    if size is None and callable(getattr(source, "tell", None)):
        size = source.tell()
    if not isinstance(size, int) or isinstance(size, bool) or size < 0:
        raise EbookError(
            f"cannot tell the size of {name or '<file object>'}: seek(0, 2) and tell() "
            f"gave {size!r}, not a position"
        )
    return size


class FileReader:
    """One book behind a file object, as the library's read callback sees it.

    The library calls :meth:`callback` from the thread that called it, with
    the GIL released between calls (ctypes takes it for the callback only).
    Whatever the file object raises stays here: the callback answers -1, the
    library fails with "read failed: ...", and :meth:`reraise` hands the
    original exception to the caller afterwards.
    """

    def __init__(self, source: BinaryIO, name: Optional[str]) -> None:
        self._file = source
        self.name = name if name is not None else _name_of(source)
        self.size: int = _size_of(source, self.name)
        self.calls = 0
        self.bytes = 0
        self.error: Optional[BaseException] = None
        readinto = getattr(source, "readinto", None)
        self._readinto = readinto if callable(readinto) else None
        # Kept alive with the reader: the library holds only its address.
        self.callback = READ_FN(self._read)

    def _read(self, _ctx: Any, offset: int, buf: int, length: int) -> int:
        self.calls += 1
        try:
            self._file.seek(offset)
            if self._readinto is not None:
                # Straight into the library's buffer: a view of exactly length
                # bytes, which no answer can write past.
                view = memoryview((ctypes.c_char * length).from_address(buf)).cast("B")
                count = self._readinto(view)
                if not isinstance(count, int):
                    raise TypeError(f"readinto() gave {type(count).__name__}, not a count")
                got = count
            else:
                data = self._file.read(length)
                if not isinstance(data, (bytes, bytearray, memoryview)):
                    raise TypeError(f"read() gave {type(data).__name__}, not bytes")
                got = len(data)
                if 0 <= got <= length:
                    ctypes.memmove(buf, bytes(data), got)
            if not 0 <= got <= length:
                raise ValueError(f"asked for {length} bytes, given {got}")
            self.bytes += got
            return got
        except BaseException as exc:  # noqa: B902 - nothing may cross the C frames
            if self.error is None:
                self.error = exc
            return -1

    def reraise(self) -> None:
        """Raise what the file object raised, when it was no ordinary error (Ctrl-C)."""
        if self.error is not None and not isinstance(self.error, Exception):
            raise self.error


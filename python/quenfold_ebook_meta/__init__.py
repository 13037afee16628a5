"""Read e-book metadata through the quenfold-ebook-meta library, and write it.

EPUB, FictionBook 2, MOBI/AZW/AZW3 and PalmDOC, PDF, and comic archives
(CBZ, CBR, CB7, CBT): the full record of each, without rendering or
decrypting anything; EPUB, FictionBook and CBZ books also written in place.

A ctypes binding of the library's C interface, standard library only::

    import quenfold_ebook_meta as qem

    book = qem.metadata("/books/sea.epub")        # the full record, a BookMetadata
    print(book.title, [a.name for a in book.authors], book.isbn)

    with fsspec.open("https://example.org/sea.epub", cache_type="none") as f:
        book = qem.metadata(f)                    # reads only the ranges it needs

    for path, result in qem.scan("/books", recursive=True):
        print(path, result.title if isinstance(result, qem.BookMetadata) else result)

``info``, ``scan_dir``, ``extract_cover`` and ``rename_plan`` give the
library's basic objects as dicts.

Paths may be ``str``, ``bytes`` or ``os.PathLike`` and reach the library as
the file system's bytes (``os.fsencode``). Text in the results is decoded as
UTF-8 with ``surrogateescape``, so a title whose bytes are not valid UTF-8
comes back as a ``str`` that ``.encode("utf-8", "surrogateescape")`` turns
into the book's exact bytes.

A book that cannot be read raises :class:`EbookError` with the library's
message; a missing one is also a ``FileNotFoundError``, one that may not be
opened a ``PermissionError`` (see :class:`EbookOSError`).

Every call may run on many threads at once: ctypes releases the GIL while the
library works, and the library keeps each thread's error text apart.
"""

from __future__ import annotations

import threading
from typing import Any, Dict, Iterable, Iterator, List, Mapping, Optional, Union

from ._errors import (
    DrmWarning,
    EbookError,
    EbookFileNotFoundError,
    EbookOSError,
    EbookPermissionError,
    EbookWarning,
)
from ._library import BookSource, BytesLike, Library, RenameItem, StrPath
from ._native import ENV_VAR, LibraryLoadError
from ._record import BookMetadata, Cover, Identifier, Person, RecordError, Series
from ._scan import ScanResult
from ._version import VERSION

__all__ = [
    "BOOK_SUFFIXES",
    "BookMetadata",
    "BookSource",
    "Cover",
    "DrmWarning",
    "EbookError",
    "EbookFileNotFoundError",
    "EbookOSError",
    "EbookPermissionError",
    "EbookWarning",
    "ENV_VAR",
    "Identifier",
    "Library",
    "LibraryLoadError",
    "Person",
    "RecordError",
    "ScanResult",
    "Series",
    "extract_cover",
    "formats",
    "info",
    "load",
    "metadata",
    "metadata_from_bytes",
    "rename_plan",
    "scan",
    "scan_dir",
    "write_metadata",
]

#: The project's version, as its CMakeLists.txt declares it.
__version__ = VERSION


_default: Optional[Library] = None
_default_lock = threading.Lock()


def load(path: Optional[StrPath] = None) -> Library:
    """Load the library and make it the one the module-level functions use.

    Without ``path`` the search order of :class:`Library` applies. Calling
    the module-level functions without ``load`` loads it on first use.
    """
    global _default
    lib = Library(path)
    with _default_lock:
        _default = lib
    return lib


def _library() -> Library:
    global _default
    lib = _default
    if lib is None:
        with _default_lock:
            if _default is None:
                _default = Library()
            lib = _default
    return lib


def formats() -> List[Dict[str, Any]]:
    """The formats the library reads; see :meth:`Library.formats`."""
    return _library().formats()


def __getattr__(name: str) -> Any:
    # BOOK_SUFFIXES, the endings of the files scan() considers, come from the
    # library's formats: read when first asked for.
    if name == "BOOK_SUFFIXES":
        return _library().book_suffixes
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def info(path: StrPath) -> Dict[str, Any]:
    """Describe one book; see :meth:`Library.info`."""
    return _library()._info(path, 3)


def metadata(source: BookSource, name: Optional[StrPath] = None) -> BookMetadata:
    """The full record of one book, from a path or a file object; see :meth:`Library.metadata`."""
    return _library().metadata(source, name)


def metadata_from_bytes(data: BytesLike, name: Optional[StrPath] = None) -> BookMetadata:
    """The full record of a book held in memory; see :meth:`Library.metadata_from_bytes`."""
    return _library().metadata_from_bytes(data, name)


def scan(
    path: StrPath, recursive: bool = False, jobs: Optional[int] = None
) -> Iterator[ScanResult]:
    """Describe every book under a directory on a pool of threads; see :meth:`Library.scan`."""
    return _library().scan(path, recursive, jobs)


def extract_cover(path: StrPath, out_path: StrPath) -> None:
    """Write a book's cover image to ``out_path``; see :meth:`Library.extract_cover`."""
    _library()._extract_cover(path, out_path, 3)


def scan_dir(path: StrPath) -> List[Dict[str, Any]]:
    """Describe every book in one directory; see :meth:`Library.scan_dir`."""
    return _library().scan_dir(path)


def write_metadata(
    path: StrPath,
    changes: Optional[Mapping[str, Any]] = None,
    *,
    dry_run: bool = False,
    keep_mtime: bool = False,
    break_links: bool = False,
    **fields: Any,
) -> BookMetadata:
    """Write metadata into a book and return its new record; see :meth:`Library.write_metadata`.

    ``qem.write_metadata("sea.epub", title="The Sea", authors=["A. Writer"])``
    """
    return _library().write_metadata(
        path, changes, dry_run=dry_run, keep_mtime=keep_mtime, break_links=break_links, **fields
    )


def rename_plan(
    files: Iterable[RenameItem], pattern: Optional[Union[str, bytes]] = None
) -> List[Dict[str, Any]]:
    """Propose new file names for books; see :meth:`Library.rename_plan`."""
    return _library().rename_plan(files, pattern)

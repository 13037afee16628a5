"""Walking a directory for book files and describing them on a pool of threads."""

from __future__ import annotations

import collections
import os
from concurrent.futures import Future, ThreadPoolExecutor
from typing import Callable, Deque, Iterator, List, Optional, Tuple, Union

from ._errors import EbookError, error_from_message
from ._record import BookMetadata

__all__ = ["BOOK_SUFFIXES", "ScanResult", "book_files", "is_book_name", "scan_books"]

#: Name endings of the files a scan considers, compared without letter case.
BOOK_SUFFIXES = (".epub", ".fb2", ".fb2.zip", ".fbz", ".mobi", ".azw", ".azw3", ".prc", ".pdb",
                 ".pdf", ".cbz", ".cbr", ".cb7", ".cbt")
#: Endings shared with databases that are no books (address books, other
#: Palm applications): such a file is looked at, and left out unless its
#: header names a kind of book.
_PALM_SUFFIXES = (".prc", ".pdb")
#: PalmDB type and creator (header bytes 60-67) of the two kinds of book.
_PALM_BOOK_KINDS = (b"BOOKMOBI", b"TEXtREAd")

ScanResult = Tuple[str, Union[BookMetadata, EbookError]]
# What the walk finds: a book file, or a directory it could not read with the error.
_Found = Union[str, Tuple[str, EbookError]]


def is_book_name(name: str) -> bool:
    """Whether a directory entry's name is one a scan considers (hidden names never are)."""
    return not name.startswith(".") and name.lower().endswith(BOOK_SUFFIXES)


def _dir_error(path: str, exc: OSError) -> EbookError:
    # The same words as the library's own directory scan.
    reason = os.strerror(exc.errno) if exc.errno else str(exc)
    return error_from_message(f"cannot open dir: {path} ({reason})")


def _entries(path: str) -> List[os.DirEntry[str]]:
    with os.scandir(path) as it:
        return sorted(it, key=lambda e: e.name)


def book_files(top: str, recursive: bool) -> Iterator[_Found]:
    """The book files under ``top`` in name order, depth first.

    Raises :class:`EbookError` at once when ``top`` cannot be read. A
    subdirectory that cannot be read (when recursive) comes as a pair of its
    path and the error, so that the caller sees what was left out. Symbolic
    links to directories are never followed; links to files are.
    """
    try:
        first = _entries(top)
    except OSError as exc:
        raise _dir_error(top, exc) from None
    return _walk(first, recursive)


def _walk(entries: List[os.DirEntry[str]], recursive: bool) -> Iterator[_Found]:
    for entry in entries:
        if entry.name.startswith("."):
            continue
        try:
            is_dir = entry.is_dir(follow_symlinks=False)
            is_file = not is_dir and entry.is_file()
        except OSError:
            continue  # vanished while we looked
        if is_dir:
            if recursive:
                try:
                    below = _entries(entry.path)
                except OSError as exc:
                    yield entry.path, _dir_error(entry.path, exc)
                    continue
                yield from _walk(below, recursive)
        elif is_file and is_book_name(entry.name):
            yield entry.path


def _is_palm_non_book(path: str) -> bool:
    """A .prc/.pdb file whose PalmDB header names no book kind (or that is no PalmDB at all)."""
    if not path.lower().endswith(_PALM_SUFFIXES):
        return False
    try:
        with open(path, "rb") as f:
            header = f.read(68)
    except OSError:
        return False  # unreadable: the library's error says so
    return header[60:68] not in _PALM_BOOK_KINDS


def _describe(describe: Callable[[str], BookMetadata], path: str) -> Optional[ScanResult]:
    # Decided by the header, not by the library's answer: a reader that takes
    # any PalmDB for a Mobipocket book would otherwise list address books.
    if _is_palm_non_book(path):
        return None
    try:
        return path, describe(path)
    except EbookError as err:
        return path, err


def scan_books(
    describe: Callable[[str], BookMetadata], top: str, recursive: bool, jobs: Optional[int]
) -> Iterator[ScanResult]:
    """Describe the book files under ``top`` with ``describe`` on ``jobs`` threads.

    Results come in the order of :func:`book_files`. At most a few books per
    thread are in flight, so memory stays bounded however large the tree;
    closing the iterator early cancels what has not started.
    """
    if jobs is not None and jobs < 1:
        raise ValueError(f"jobs must be at least 1, not {jobs}")
    files = book_files(top, recursive)  # raises now for an unreadable top
    return _run(describe, files, jobs)


def _run(
    describe: Callable[[str], BookMetadata],
    files: Iterator[_Found],
    jobs: Optional[int],
) -> Iterator[ScanResult]:
    # The pool's own default: the calls wait on the disk as much as they compute.
    workers = jobs if jobs is not None else min(32, (os.cpu_count() or 1) + 4)
    pool = ThreadPoolExecutor(max_workers=workers, thread_name_prefix="quenfold-scan")
    window = 4 * workers
    pending: Deque["Future[Optional[ScanResult]]"] = collections.deque()
    try:
        for item in files:
            if isinstance(item, tuple):
                done: "Future[Optional[ScanResult]]" = Future()
                done.set_result(item)
                pending.append(done)
            else:
                pending.append(pool.submit(_describe, describe, item))
            while len(pending) >= window or (pending and pending[0].done()):
                result = pending.popleft().result()
                if result is not None:
                    yield result
        while pending:
            result = pending.popleft().result()
            if result is not None:
                yield result
    finally:
        for future in pending:
            future.cancel()
        pool.shutdown(wait=True)

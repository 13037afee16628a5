"""Walking a directory for book files and describing them on a pool of threads."""

from __future__ import annotations

import collections
import os
from concurrent.futures import Future, ThreadPoolExecutor
from typing import (Any, Callable, Deque, Dict, Iterator, List, Mapping, Optional, Sequence, Tuple,
                    Union)

from ._errors import EbookError, error_from_message
from ._record import BookMetadata

__all__ = ["BookNames", "ScanResult", "book_files", "scan_books"]


class BookNames:
    """The names of the files a scan considers, from the library's formats (``ebook_formats``).

    A name is a book's when it ends in one of the formats' extensions,
    compared without letter case. Some endings are shared with files of other
    kinds (Palm address books and memos under ``.pdb`` and ``.prc``): a file
    under one of them is a book only when it holds one of the signatures the
    library gives for it, and a scan passes over the others silently.
    """

    def __init__(self, formats: Sequence[Mapping[str, Any]]) -> None:
        suffixes: List[str] = []
        shared: Dict[str, List[Tuple[int, bytes]]] = {}
        for f in formats:
            suffixes += [e for e in f["extensions"] if e not in suffixes]
            signatures = [(int(s["offset"]), s["bytes"].encode("latin-1"))
                          for s in f.get("signatures", [])]
            for e in f.get("shared_extensions", []):
                known = shared.setdefault(e, [])
                known += [s for s in signatures if s not in known]
        #: Name endings of the files a scan considers, lower case.
        self.suffixes: Tuple[str, ...] = tuple(suffixes)
        self._shared = shared

    def is_book_name(self, name: str) -> bool:
        """Whether a directory entry's name is one a scan considers (hidden names never are)."""
        return not name.startswith(".") and name.lower().endswith(self.suffixes)

    def signatures(self, name: str) -> List[Tuple[int, bytes]]:
        """What a file of that name must hold at an offset to be a book; [] when the name is enough."""
        lower = name.lower()
        for suffix, signatures in self._shared.items():
            if lower.endswith(suffix):
                return signatures
        return []

    @staticmethod
    def header_size(signatures: Sequence[Tuple[int, bytes]]) -> int:
        """How many bytes of a file's start the signatures need."""
        return max((at + len(b) for at, b in signatures), default=0)

    @staticmethod
    def holds_one(header: bytes, signatures: Sequence[Tuple[int, bytes]]) -> bool:
        """Whether a file starting with ``header`` holds one of the signatures."""
        return any(header[at:at + len(b)] == b for at, b in signatures)


ScanResult = Tuple[str, Union[BookMetadata, EbookError]]
# What the walk finds: a book file, or a directory it could not read with the error.
_Found = Union[str, Tuple[str, EbookError]]


def _dir_error(path: str, exc: OSError) -> EbookError:
    # The same words as the library's own directory scan.
    reason = os.strerror(exc.errno) if exc.errno else str(exc)
    return error_from_message(f"cannot open dir: {path} ({reason})")


def _entries(path: str) -> List[os.DirEntry[str]]:
    with os.scandir(path) as it:
        return sorted(it, key=lambda e: e.name)


def book_files(names: BookNames, top: str, recursive: bool) -> Iterator[_Found]:
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
    return _walk(names, first, recursive)


def _walk(names: BookNames, entries: List[os.DirEntry[str]], recursive: bool) -> Iterator[_Found]:
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
                yield from _walk(names, below, recursive)
        elif is_file and names.is_book_name(entry.name):
            yield entry.path


def _is_shared_non_book(names: BookNames, path: str) -> bool:
    """A file under a shared ending (.prc, .pdb) that holds none of its signatures."""
    signatures = names.signatures(path)
    if not signatures:
        return False
    try:
        with open(path, "rb") as f:
            header = f.read(BookNames.header_size(signatures))
    except OSError:
        return False  # unreadable: the library's error says so
    return not BookNames.holds_one(header, signatures)


def _describe(
    describe: Callable[[str], BookMetadata], names: BookNames, path: str
) -> Optional[ScanResult]:
    # Decided by the header, not by the library's answer: a reader that takes
    # any PalmDB for a Mobipocket book would otherwise list address books.
    if _is_shared_non_book(names, path):
        return None
    try:
        return path, describe(path)
    except EbookError as err:
        return path, err


def scan_books(
    describe: Callable[[str], BookMetadata],
    names: BookNames,
    top: str,
    recursive: bool,
    jobs: Optional[int],
) -> Iterator[ScanResult]:
    """Describe the book files under ``top`` with ``describe`` on ``jobs`` threads.

    ``names`` tells which files are books (the library's formats).

    Results come in the order of :func:`book_files`. At most a few books per
    thread are in flight, so memory stays bounded however large the tree;
    closing the iterator early cancels what has not started.
    """
    if jobs is not None and jobs < 1:
        raise ValueError(f"jobs must be at least 1, not {jobs}")
    files = book_files(names, top, recursive)  # raises now for an unreadable top
    return _run(describe, names, files, jobs)


def _run(
    describe: Callable[[str], BookMetadata],
    names: BookNames,
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
                pending.append(pool.submit(_describe, describe, names, item))
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
